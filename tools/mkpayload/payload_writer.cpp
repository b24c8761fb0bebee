#include "tools/mkpayload/payload_writer.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace mkpayload {
namespace {

constexpr uint8_t kFormatVersion[2] = {0x00, 0x01};
constexpr uint8_t kSha1DigestInfo[15] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                         0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
constexpr char kIdentifier[7] = {'Q', 'V', 'X', '_', 'U', 'D', 'T'};
// Where the trailer carries the bytes of A, from bits 0-7 up to bits 24-31.
constexpr size_t kLengthByteOffsets[4] = {5, 12, 17, 8};
constexpr size_t kIdentifierOffset = 27;

struct BnFree {
  void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
struct BnCtxFree {
  void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

void putBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

bool encrypt(const KeySet& keys, const uint8_t iv[16], const std::vector<uint8_t>& plain,
             std::vector<uint8_t>& out, std::string& error) {
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  const size_t start = out.size();
  out.resize(start + plain.size() + 16);
  int written = 0, tail = 0;
  if (!ctx ||
      EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, keys.cipherKey.data(), iv) != 1 ||
      EVP_EncryptUpdate(ctx.get(), out.data() + start, &written, plain.data(),
                        static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), out.data() + start + written, &tail) != 1) {
    error = "encryption failed";
    return false;
  }
  out.resize(start + static_cast<size_t>(written + tail));
  return true;
}

}  // namespace

bool signSha1(const KeySet& keys, const std::vector<uint8_t>& message, std::vector<uint8_t>& signature,
              std::string& error) {
  const size_t k = keys.modulus.size();
  std::vector<uint8_t> em(k, 0xFF);
  em[0] = 0x00;
  em[1] = 0x01;
  const size_t digestInfoAt = k - sizeof kSha1DigestInfo - 20;
  em[digestInfoAt - 1] = 0x00;
  std::copy(std::begin(kSha1DigestInfo), std::end(kSha1DigestInfo), em.begin() + digestInfoAt);
  unsigned int digestLength = 0;
  if (EVP_Digest(message.data(), message.size(), em.data() + digestInfoAt + sizeof kSha1DigestInfo,
                 &digestLength, EVP_sha1(), nullptr) != 1) {
    error = "hashing failed";
    return false;
  }
  std::unique_ptr<BN_CTX, BnCtxFree> ctx(BN_CTX_new());
  Bn m(BN_bin2bn(em.data(), static_cast<int>(k), nullptr));
  Bn d(BN_bin2bn(keys.signExponent.data(), static_cast<int>(keys.signExponent.size()), nullptr));
  Bn n(BN_bin2bn(keys.modulus.data(), static_cast<int>(k), nullptr));
  Bn s(BN_new());
  if (!ctx || !m || !d || !n || !s || BN_mod_exp(s.get(), m.get(), d.get(), n.get(), ctx.get()) != 1) {
    error = "signing failed";
    return false;
  }
  signature.assign(k, 0);
  BN_bn2binpad(s.get(), signature.data(), static_cast<int>(k));
  return true;
}

bool buildPayload(const KeySet& keys, const std::vector<uint8_t>& container, uint32_t timeStamp,
                  uint64_t programLength, std::vector<uint8_t>& payload, std::string& error) {
  if (programLength > UINT32_MAX) {
    error = "the program file is too long for the trailer's 32-bit length";
    return false;
  }
  std::vector<uint8_t> header(std::begin(kFormatVersion), std::end(kFormatVersion));
  putBigEndian32(header, timeStamp);

  // The signature covers version, time stamp and the plain container.
  std::vector<uint8_t> signedBytes = header;
  signedBytes.insert(signedBytes.end(), container.begin(), container.end());
  std::vector<uint8_t> signature;
  if (!signSha1(keys, signedBytes, signature, error)) return false;
  signedBytes.clear();
  signedBytes.shrink_to_fit();

  payload = header;
  putBigEndian32(payload, static_cast<uint32_t>(signature.size()));
  payload.insert(payload.end(), signature.begin(), signature.end());

  uint8_t iv[16];
  std::copy(header.begin() + 2, header.begin() + 6, iv);
  std::copy(keys.ivTail.begin(), keys.ivTail.end(), iv + 4);
  if (!encrypt(keys, iv, container, payload, error)) return false;

  uint8_t trailer[kTrailerBytes] = {};
  for (int i = 0; i < 4; ++i)
    trailer[kLengthByteOffsets[i]] = static_cast<uint8_t>(programLength >> (8 * i));
  std::copy(std::begin(kIdentifier), std::end(kIdentifier), trailer + kIdentifierOffset);
  payload.insert(payload.end(), std::begin(trailer), std::end(trailer));
  return true;
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

bool wrapProgram(const KeySet& keys, const std::string& containerPath, const std::string& programPath,
                 const std::string& outPath, uint32_t timeStamp, std::string& error) {
  std::vector<uint8_t> container, program, payload;
  if (!readWholeFile(containerPath, container, error) || !readWholeFile(programPath, program, error))
    return false;
  if (!buildPayload(keys, container, timeStamp, program.size(), payload, error)) return false;

  // Written beside the target and renamed over it, so `out` may be `program`.
  const std::string temporary = outPath + ".mkpayload-tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
    out.write(reinterpret_cast<const char*>(payload.data()), static_cast<std::streamsize>(payload.size()));
    out.close();
    if (!out) {
      std::remove(temporary.c_str());
      error = "cannot write " + temporary;
      return false;
    }
  }
  struct stat programStat {};
  if (::stat(programPath.c_str(), &programStat) == 0) ::chmod(temporary.c_str(), programStat.st_mode & 07777);
  std::error_code ec;
  std::filesystem::rename(temporary, outPath, ec);
  if (ec) {
    std::remove(temporary.c_str());
    error = "cannot write " + outPath + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace mkpayload
