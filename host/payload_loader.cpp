// The payload behind the program image (A = image length, F = file size):
//   A        2   format version 00 01
//   A + 2    4   time stamp, big-endian; the first four bytes of the IV
//   A + 6    4   signature length 128, big-endian
//   A + 10 128   signature over version, time stamp and plain container
//   A + 138  C   AES-128-CBC ciphertext with PKCS #7 padding
//   F - 34  34   trailer: A in bytes 5 (bits 0-7), 12, 17 and 8 (bits 24-31),
//                "QVX_UDT" in bytes 27 to 33
#include "host/payload_loader.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "crypto/nimbo.h"
#include "host/shared_state.h"
#include "host/trace.h"

namespace {

constexpr off_t kTrailerBytes = 34;
constexpr off_t kHeaderBytes = 138;
constexpr off_t kSmallestFile = 154;
constexpr uint32_t kSignatureBytes = 128;
constexpr char kIdentifier[] = "QVX_UDT";
constexpr uint8_t kFormatVersion[2] = {0x00, 0x01};

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

// Trace lines of the loader; the last one is kept for callers that report it.
class LoaderTrace {
 public:
  explicit LoaderTrace(std::string* last) : last_(last) {}

  void operator()(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (traceEnabled()) traceAppend("%s", text);
    if (last_ != nullptr) *last_ = text;
  }

 private:
  std::string* last_;
};

void progress(float value) { progressPercent.store(value, std::memory_order_relaxed); }

uint32_t bigEndian32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

bool readExactly(std::FILE* file, void* into, size_t bytes) {
  return bytes == 0 || std::fread(into, 1, bytes, file) == bytes;
}

// "Www Mmm dd hh:mm:ss yyyy\n" in local time, with English names whatever
// the locale.
std::string asLocalTimeLine(uint32_t seconds) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t time = seconds;
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr) return "\n";
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d\n", kDays[local.tm_wday % 7],
                kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                local.tm_year + 1900);
  return text;
}

}  // namespace

bool loadPayloadFile(const std::string& path, const PayloadKeys& keys, size_t* length,
                     std::unique_ptr<uint8_t[]>* buffer, std::string* failureLine) {
  LoaderTrace trace(failureLine);
  const char* name = path.c_str();
  if (length == nullptr || buffer == nullptr) return false;

  struct stat fileStat {};
  if (::stat(name, &fileStat) != 0) {
    trace("could not get file information for %s!\r\n", name);
    return false;
  }
  progress(22);
  if (!S_ISREG(fileStat.st_mode)) {
    trace("%s is not a regular file!\r\n", name);
    return false;
  }
  progress(24);
  const off_t fileSize = fileStat.st_size;
  if (fileSize < kSmallestFile) {
    trace("%s too small!\r\n", name);
    return false;
  }
  progress(26);
  File file(std::fopen(name, "rb"));
  if (!file) {
    trace("could not open %s!\r\n", name);
    return false;
  }
  progress(28);

  uint8_t trailer[kTrailerBytes];
  if (fseeko(file.get(), fileSize - kTrailerBytes, SEEK_SET) != 0 ||
      !readExactly(file.get(), trailer, sizeof trailer)) {
    trace("could not read %s!\r\n", name);
    return false;
  }
  const off_t imageLength = off_t{trailer[5]} | off_t{trailer[12]} << 8 | off_t{trailer[17]} << 16 |
                            off_t{trailer[8]} << 24;
  char identifier[8] = {};
  std::memcpy(identifier, trailer + 27, 7);
  const off_t payloadLength = fileSize - imageLength - kTrailerBytes;
  trace("Read Kennung: %s\r\n", identifier);
  trace("Application File Length: %d Bytes\r\n", static_cast<int>(imageLength));
  trace("Binary File Length: %d Bytes\r\n", static_cast<int>(payloadLength));
  if (std::memcmp(trailer + 27, kIdentifier, 7) != 0) {
    trace("wrong Kennung %s!\r\n", identifier);
    return false;
  }
  // A trailer that places the image beyond the file, or leaves no room for the
  // payload header, cannot be read from.
  if (imageLength + kHeaderBytes > fileSize - kTrailerBytes ||
      fseeko(file.get(), imageLength, SEEK_SET) != 0) {
    trace("could not read %s!\r\n", name);
    return false;
  }

  uint8_t version[2];
  if (!readExactly(file.get(), version, sizeof version)) {
    trace("could not read %s!\r\n", name);
    return false;
  }
  if (std::memcmp(version, kFormatVersion, sizeof version) != 0) {
    trace("wrong version number in %s!\r\n", name);
    return false;
  }
  progress(30);

  uint8_t iv[16] = {};
  const size_t stampRead = std::fread(iv, 1, 4, file.get());
  if (stampRead != 4) {
    std::fprintf(stderr, "could not read %s!\n", name);
    file.reset();
    trace("wrong time stamp %s in %s!\r\n", asLocalTimeLine(bigEndian32(iv)).c_str(), name);
    return false;
  }
  std::memcpy(iv + 4, keys.ivTail, sizeof keys.ivTail);
  progress(32);

  uint8_t signatureLength[4];
  if (std::fread(signatureLength, 1, 4, file.get()) != 4) {
    std::fprintf(stderr, "could not read %s!\n", name);
    trace("could not read %s!\r\n", name);
    return false;
  }
  uint8_t signature[kSignatureBytes];
  if (bigEndian32(signatureLength) != kSignatureBytes ||
      !readExactly(file.get(), signature, sizeof signature)) {
    trace("could not read %s!\r\n", name);
    return false;
  }
  progress(35);

  const size_t cipherLength = static_cast<size_t>(payloadLength - kHeaderBytes);
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[cipherLength]);
  if (!data) {
    trace("could not allocate memory (%u bytes)!\r\n", static_cast<unsigned>(cipherLength));
    return false;
  }
  progress(38);
  if (!readExactly(file.get(), data.get(), cipherLength)) {
    trace("could not read %s!\r\n", name);
    return false;
  }
  file.reset();
  progress(41);

  CipherContext cipher;
  if (nimbo_CryptStart(keys.cipherKey, 128, iv, &cipher, 16) != 0) {
    trace("nimbo_CryptStart failed!");
    return false;
  }
  size_t plainLength = cipherLength;
  if (nimbo_Crypt(data.get(), uint64_t{cipherLength} * 8, data.get(), &plainLength, nimbo::kDecrypt,
                  &cipher, 1) != 0) {
    trace("decryption failed!");
    return false;
  }
  progress(47);

  HashContext hash;
  if (nimbo_HashStart(&hash, 0) != 0) {
    trace("nimbo_HashStart failed!");
    return false;
  }
  progress(53);
  uint8_t digest[20];
  if (nimbo_Hash(version, 16, nullptr, &hash, 0) != 0 || nimbo_Hash(iv, 32, nullptr, &hash, 0) != 0 ||
      nimbo_Hash(data.get(), uint64_t{plainLength} * 8, digest, &hash, 1) != 0) {
    trace("nimbo_Hash failed!");
    return false;
  }
  progress(59);

  uint32_t digestLength = sizeof digest;
  if (nimbo_Verify(digest, &digestLength, signature, sizeof signature, keys.verifyKey,
                   nimbo::kDigestSha1) != 0) {
    trace("could not verify signature!");
    return false;
  }
  *length = plainLength;
  *buffer = std::move(data);
  return true;
}

bool LoadEmbeddedPayload(size_t* length, std::unique_ptr<uint8_t[]>* buffer) {
  return loadPayloadFile(programPath(), compiledPayloadKeys(), length, buffer);
}
