// mkpayload: makes key sets, appends signed and encrypted payloads to program
// files, and checks a program file with the program's own payload loader.
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "host/payload_loader.h"
#include "tools/mkpayload/key_set.h"
#include "tools/mkpayload/payload_writer.h"

namespace {

constexpr const char* kUsage =
    "usage: mkpayload generate-keys DIR\n"
    "       mkpayload wrap --keys DIR --container FILE --program FILE --out FILE"
    " [--time-stamp SECONDS]\n"
    "       mkpayload verify FILE\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int failWith(const std::string& error) {
  std::fprintf(stderr, "mkpayload: %s\n", error.c_str());
  return 1;
}

int generateKeys(const std::string& dir) {
  mkpayload::KeySet keys;
  std::string error;
  if (!mkpayload::generateKeySet(keys, error) || !mkpayload::writeKeySet(dir, keys, error))
    return failWith(error);
  return 0;
}

bool parseTimeStamp(const std::string& text, uint32_t& stamp) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (value > UINT32_MAX) return false;
  stamp = static_cast<uint32_t>(value);
  return true;
}

int wrap(int argc, char** argv) {
  std::map<std::string, std::string> options;
  for (int i = 2; i < argc; i += 2) {
    const std::string name = argv[i];
    if (i + 1 >= argc || (name != "--keys" && name != "--container" && name != "--program" &&
                          name != "--out" && name != "--time-stamp"))
      return usage();
    options[name] = argv[i + 1];
  }
  for (const char* required : {"--keys", "--container", "--program", "--out"})
    if (!options.count(required)) return usage();
  uint32_t stamp = static_cast<uint32_t>(std::time(nullptr));
  if (options.count("--time-stamp") && !parseTimeStamp(options["--time-stamp"], stamp))
    return failWith("--time-stamp needs seconds since 1970 that fit 32 bits");
  mkpayload::KeySet keys;
  std::string error;
  if (!mkpayload::readKeySet(options["--keys"], keys, error) ||
      !mkpayload::wrapProgram(keys, options["--container"], options["--program"], options["--out"],
                              stamp, error))
    return failWith(error);
  return 0;
}

int verify(const std::string& path) {
  size_t length = 0;
  std::unique_ptr<uint8_t[]> plain;
  std::string failure;
  if (!loadPayloadFile(path, compiledPayloadKeys(), &length, &plain, &failure)) {
    std::printf("%s%s", failure.c_str(), failure.ends_with("\r\n") ? "" : "\n");
    return 1;
  }
  uint8_t digest[32];
  unsigned int digestLength = 0;
  if (EVP_Digest(plain.get(), length, digest, &digestLength, EVP_sha256(), nullptr) != 1)
    return failWith("hashing failed");
  std::printf("OK %zu %s\n", length, mkpayload::toHex(digest, digestLength).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  if (command == "generate-keys" && argc == 3) return generateKeys(argv[2]);
  if (command == "wrap") return wrap(argc, argv);
  if (command == "verify" && argc == 3) return verify(argv[2]);
  return usage();
}
