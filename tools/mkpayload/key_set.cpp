#include "tools/mkpayload/key_set.h"

#include <openssl/bn.h>
#include <openssl/rand.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace mkpayload {
namespace {

constexpr const char* kCipherKeyFile = "aes128.hex";
constexpr const char* kIvTailFile = "ivtail.hex";
constexpr const char* kModulusFile = "rsa-modulus.hex";
constexpr const char* kVerifyExponentFile = "rsa-verify-exponent.hex";
constexpr const char* kSignExponentFile = "rsa-sign-exponent.hex";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool readHexFile(const std::filesystem::path& path, size_t expectedBytes, std::vector<uint8_t>& bytes,
                 std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path.string();
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (!parseHex(text.str(), bytes)) {
    error = path.string() + " is not hexadecimal";
    return false;
  }
  if (expectedBytes != 0 && bytes.size() != expectedBytes) {
    error = path.string() + " must hold " + std::to_string(expectedBytes * 2) + " hexadecimal digits";
    return false;
  }
  if (bytes.empty()) {
    error = path.string() + " is empty";
    return false;
  }
  return true;
}

bool writeHexFile(const std::filesystem::path& path, const uint8_t* bytes, size_t length,
                  std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << toHex(bytes, length) << '\n';
  if (!out) {
    error = "cannot write " + path.string();
    return false;
  }
  return true;
}

struct BnFree {
  void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
struct BnCtxFree {
  void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};

std::vector<uint8_t> bnBytes(const BIGNUM* bn, size_t length) {
  std::vector<uint8_t> bytes(length);
  BN_bn2binpad(bn, bytes.data(), static_cast<int>(length));
  return bytes;
}

}  // namespace

bool parseHex(const std::string& text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  int high = -1;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    const int v = hexValue(c);
    if (v < 0) return false;
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  return high < 0;
}

std::string toHex(const uint8_t* bytes, size_t length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * length);
  for (size_t i = 0; i < length; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

bool readKeySet(const std::string& dir, KeySet& keys, std::string& error) {
  const std::filesystem::path base(dir);
  std::vector<uint8_t> cipherKey, ivTail;
  KeySet read;
  if (!readHexFile(base / kCipherKeyFile, read.cipherKey.size(), cipherKey, error) ||
      !readHexFile(base / kIvTailFile, read.ivTail.size(), ivTail, error) ||
      !readHexFile(base / kModulusFile, kModulusBytes, read.modulus, error) ||
      !readHexFile(base / kVerifyExponentFile, kModulusBytes, read.verifyExponent, error) ||
      !readHexFile(base / kSignExponentFile, 0, read.signExponent, error))
    return false;
  if ((read.modulus[0] & 0x80) == 0) {
    error = "the modulus in " + (base / kModulusFile).string() + " is not 1024 bits long";
    return false;
  }
  std::copy(cipherKey.begin(), cipherKey.end(), read.cipherKey.begin());
  std::copy(ivTail.begin(), ivTail.end(), read.ivTail.begin());
  keys = std::move(read);
  return true;
}

bool writeKeySet(const std::string& dir, const KeySet& keys, std::string& error) {
  const std::filesystem::path base(dir);
  std::error_code ec;
  std::filesystem::create_directories(base, ec);
  if (ec) {
    error = "cannot create " + dir + ": " + ec.message();
    return false;
  }
  return writeHexFile(base / kCipherKeyFile, keys.cipherKey.data(), keys.cipherKey.size(), error) &&
         writeHexFile(base / kIvTailFile, keys.ivTail.data(), keys.ivTail.size(), error) &&
         writeHexFile(base / kModulusFile, keys.modulus.data(), keys.modulus.size(), error) &&
         writeHexFile(base / kVerifyExponentFile, keys.verifyExponent.data(),
                      keys.verifyExponent.size(), error) &&
         writeHexFile(base / kSignExponentFile, keys.signExponent.data(), keys.signExponent.size(),
                      error);
}

bool generateKeySet(KeySet& keys, std::string& error) {
  KeySet fresh;
  if (RAND_bytes(fresh.cipherKey.data(), static_cast<int>(fresh.cipherKey.size())) != 1 ||
      RAND_bytes(fresh.ivTail.data(), static_cast<int>(fresh.ivTail.size())) != 1) {
    error = "no random bytes";
    return false;
  }
  std::unique_ptr<BN_CTX, BnCtxFree> ctx(BN_CTX_new());
  Bn p(BN_new()), q(BN_new()), n(BN_new()), phi(BN_new()), p1(BN_new()), q1(BN_new()),
      d(BN_new()), e(BN_new());
  if (!ctx || !p || !q || !n || !phi || !p1 || !q1 || !d || !e || !BN_set_word(d.get(), 65537)) {
    error = "out of memory";
    return false;
  }
  // The verification exponent must be as long as the modulus; a random inverse
  // is 1023 bits long about a third of the time.
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (!BN_generate_prime_ex(p.get(), 512, 0, nullptr, nullptr, nullptr) ||
        !BN_generate_prime_ex(q.get(), 512, 0, nullptr, nullptr, nullptr) ||
        !BN_mul(n.get(), p.get(), q.get(), ctx.get()) || !BN_sub(p1.get(), p.get(), BN_value_one()) ||
        !BN_sub(q1.get(), q.get(), BN_value_one()) || !BN_mul(phi.get(), p1.get(), q1.get(), ctx.get())) {
      error = "prime generation failed";
      return false;
    }
    if (BN_num_bits(n.get()) != 1024) continue;
    if (!BN_mod_inverse(e.get(), d.get(), phi.get(), ctx.get())) continue;  // 65537 divides phi
    if (BN_num_bits(e.get()) != 1023) continue;
    fresh.modulus = bnBytes(n.get(), kModulusBytes);
    fresh.verifyExponent = bnBytes(e.get(), kModulusBytes);
    fresh.signExponent = bnBytes(d.get(), static_cast<size_t>(BN_num_bytes(d.get())));
    keys = std::move(fresh);
    return true;
  }
  error = "no suitable key found";
  return false;
}

}  // namespace mkpayload
