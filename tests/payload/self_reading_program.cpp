// A program that carries a payload appended by the build and reads it from its
// own file, as the updater does at start-up. Prints "OK <length> <SHA-256>";
// exits 0 only when that matches the expected length and digest given.
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/payload_loader.h"
#include "host/program_path.h"
#include "host/shared_state.h"
#include "tools/mkpayload/key_set.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s EXPECTED-LENGTH EXPECTED-SHA256\n", argv[0]);
    return 2;
  }
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
  const std::string line = "OK " + std::to_string(length) + " " + mkpayload::toHex(digest, digestLength);
  std::printf("%s\n", line.c_str());
  return line == std::string("OK ") + argv[1] + " " + argv[2] ? 0 : 1;
}
