// A program that carries a payload appended by the build and starts up as the
// updater does: it reads the payload from its own file and hands the plain
// container to the library. Prints "OK <length> <SHA-256 of the container>"
// and "accepted <product type> <project name>"; exits 0 only when the library
// accepted the container.
#include <openssl/evp.h>

#include <cstdio>
#include <string>

#include "doralex/doralex.h"
#include "host/payload_handover.h"
#include "host/payload_loader.h"
#include "host/program_path.h"
#include "host/shared_state.h"
#include "tools/mkpayload/key_set.h"

int main() {
  setProgramPath(ownProgramFile());
  size_t length = 0;
  std::unique_ptr<uint8_t[]> plain;
  if (!LoadEmbeddedPayload(&length, &plain)) {
    std::printf("payload of %s refused\n", programPath().c_str());
    return 1;
  }
  uint8_t digest[32];
  unsigned int digestLength = 0;
  EVP_Digest(plain.get(), length, digest, &digestLength, EVP_sha256(), nullptr);
  std::printf("OK %zu %s\n", length, mkpayload::toHex(digest, digestLength).c_str());

  dlx::InitLibrary(dlx::kInterfaceMajor, dlx::kInterfaceMinor);
  dlx::SetUpdateMode(1);
  dlx::ProductInfo info{};
  std::unique_ptr<uint8_t[]> container;
  const bool accepted = handOverPayload(std::move(plain), length, &info, &container);
  if (accepted) std::printf("accepted %s %s\n", info.productType, info.projectName);
  else std::printf("refused: 0x%X\n", dlx::GetLatestLibraryError(0).code);
  dlx::ReleaseXbiContainer();
  return accepted ? 0 : 1;
}
