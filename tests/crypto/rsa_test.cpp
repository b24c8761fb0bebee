// RSA verification: the development key's full-length exponent, the
// encoded-message rules, the digest identifiers, and signatures made by
// libcrypto and by the openssl command-line tool.
#define OPENSSL_SUPPRESS_DEPRECATED  // RSA_sign is the plain PKCS #1 v1.5 signer we compare with
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "crypto/nimbo.h"
#include "crypto_test_support.h"
#include "tools/mkpayload/key_set.h"

namespace {

const std::vector<uint8_t> kSha1Prefix = hexBytes("3021300906052b0e03021a05000414");

struct BnFree {
  void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
Bn bnOf(const std::vector<uint8_t>& bytes) {
  return Bn(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}
std::vector<uint8_t> bytesOf(const BIGNUM* bn, size_t length) {
  std::vector<uint8_t> out(length);
  BN_bn2binpad(bn, out.data(), static_cast<int>(length));
  return out;
}

// A key pair for the tests: n, the verification exponent e and the signing exponent d.
struct TestKey {
  std::vector<uint8_t> n, e, d;

  RsaPublicKey publicKey() const {
    RsaPublicKey key;
    key.modulusBytes = static_cast<uint32_t>(n.size());
    EXPECT_EQ(nimbo_BigFromBytes(&key.modulus, n.data(), n.size()), 0);
    EXPECT_EQ(nimbo_BigFromBytes(&key.exponent, e.data(), e.size()), 0);
    return key;
  }

  // The signature of an encoded message given without its leading zero byte.
  std::vector<uint8_t> signEncoded(const std::vector<uint8_t>& em) const {
    std::vector<uint8_t> full(1, 0);
    full.insert(full.end(), em.begin(), em.end());
    Bn m = bnOf(full), dn = bnOf(d), nn = bnOf(n), s(BN_new());
    BN_CTX* ctx = BN_CTX_new();
    BN_mod_exp(s.get(), m.get(), dn.get(), nn.get(), ctx);
    BN_CTX_free(ctx);
    return bytesOf(s.get(), n.size());
  }
};

TestKey developmentKey() {
  mkpayload::KeySet keys;
  std::string error;
  EXPECT_TRUE(mkpayload::readKeySet(UPDATETOOL_TEST_KEY_DIR, keys, error)) << error;
  return {keys.modulus, keys.verifyExponent, keys.signExponent};
}

// A 46-byte modulus: room for 01, exactly eight FF bytes, 00 and a SHA-1 DigestInfo.
TestKey smallKey() {
  BN_CTX* ctx = BN_CTX_new();
  Bn p(BN_new()), q(BN_new()), n(BN_new()), phi(BN_new()), e(BN_new()), d(BN_new());
  BN_set_word(e.get(), 65537);
  do {
    BN_generate_prime_ex(p.get(), 184, 0, nullptr, nullptr, nullptr);
    BN_generate_prime_ex(q.get(), 184, 0, nullptr, nullptr, nullptr);
    BN_mul(n.get(), p.get(), q.get(), ctx);
    BN_sub_word(p.get(), 1);
    BN_sub_word(q.get(), 1);
    BN_mul(phi.get(), p.get(), q.get(), ctx);
  } while (BN_num_bits(n.get()) != 368 || BN_mod_inverse(d.get(), e.get(), phi.get(), ctx) == nullptr);
  BN_CTX_free(ctx);
  return {bytesOf(n.get(), 46), bytesOf(e.get(), 3), bytesOf(d.get(), 46)};
}

std::vector<uint8_t> sha1(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> digest(20);
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha1(), nullptr);
  return digest;
}

// 01, ffCount FF bytes, 00, then r; k - 1 bytes in all when the counts fit.
std::vector<uint8_t> encoded(size_t ffCount, const std::vector<uint8_t>& r) {
  std::vector<uint8_t> em(1, 0x01);
  em.insert(em.end(), ffCount, 0xFF);
  em.push_back(0x00);
  em.insert(em.end(), r.begin(), r.end());
  return em;
}

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

int verify(std::vector<uint8_t> data, const std::vector<uint8_t>& signature, const RsaPublicKey& key,
           int type) {
  uint32_t length = static_cast<uint32_t>(data.size());
  return nimbo_Verify(data.data(), &length, signature.data(), static_cast<uint32_t>(signature.size()),
                      key, type);
}

TEST(RsaVerify, DevelopmentKeyHasAFullLengthExponent) {
  const TestKey key = developmentKey();
  const RsaPublicKey publicKey = key.publicKey();
  uint32_t bits = 0;
  ASSERT_EQ(nimbo_BigBitLength(publicKey.exponent, &bits), 0);
  EXPECT_EQ(bits, 1023u);
  ASSERT_EQ(nimbo_BigBitLength(publicKey.modulus, &bits), 0);
  EXPECT_EQ(bits, 1024u);
}

TEST(RsaVerify, EncodedMessageRules) {
  const TestKey key = smallKey();
  const RsaPublicKey publicKey = key.publicKey();
  const auto digest = sha1({'p', 'a', 'y'});
  const auto digestInfo = concat(kSha1Prefix, digest);  // 35 bytes
  struct Case {
    const char* name;
    std::vector<uint8_t> em;
    int type;
    std::vector<uint8_t> data;
    int result;
  };
  std::vector<uint8_t> wrongStart = encoded(8, digestInfo);
  wrongStart[0] = 0x02;
  std::vector<uint8_t> noZero = encoded(8, digestInfo);
  noZero[9] = 0x01;
  const std::vector<Case> cases = {
      {"eight FF bytes and a SHA-1 DigestInfo", encoded(8, digestInfo), nimbo::kDigestSha1, digest, 0},
      {"seven FF bytes", encoded(7, concat({0x55}, digestInfo)), nimbo::kDigestNone, std::vector<uint8_t>(64), -1},
      {"eight FF bytes hand the data back", encoded(8, digestInfo), nimbo::kDigestNone, std::vector<uint8_t>(64), 0},
      {"block type 02", wrongStart, nimbo::kDigestSha1, digest, -1},
      {"no zero after the FF bytes", noZero, nimbo::kDigestSha1, digest, -1},
      {"other digest", encoded(8, concat(kSha1Prefix, sha1({'x'}))), nimbo::kDigestSha1, digest, -1},
      {"SHA-1 data with the MD5 type", encoded(8, digestInfo), nimbo::kDigestMd5, std::vector<uint8_t>(digest.begin(), digest.begin() + 16), -1},
      {"SHA-1 type with 16 bytes of the digest", encoded(8, digestInfo), nimbo::kDigestSha1, std::vector<uint8_t>(digest.begin(), digest.begin() + 16), -1},
      {"compare equal", encoded(8, digestInfo), nimbo::kDigestCompare, digestInfo, 0},
      {"compare shorter", encoded(8, digestInfo), nimbo::kDigestCompare, std::vector<uint8_t>(digestInfo.begin(), digestInfo.end() - 1), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.em.size(), 45u);
    EXPECT_EQ(verify(c.data, key.signEncoded(c.em), publicKey, c.type), c.result);
  }
}

TEST(RsaVerify, HandsBackTheDecodedData) {
  const TestKey key = developmentKey();
  const RsaPublicKey publicKey = key.publicKey();
  const std::vector<uint8_t> r = {1, 2, 3, 4, 5};
  const auto signature = key.signEncoded(encoded(127 - 2 - r.size(), r));
  uint32_t length = 0;
  ASSERT_EQ(nimbo_Verify(nullptr, &length, signature.data(), 128, publicKey, nimbo::kDigestNone), 0);
  EXPECT_EQ(length, 5u);
  std::vector<uint8_t> out(4);
  length = 4;
  EXPECT_EQ(nimbo_Verify(out.data(), &length, signature.data(), 128, publicKey, nimbo::kDigestNone), -1);
  out.resize(8);
  length = 8;
  ASSERT_EQ(nimbo_Verify(out.data(), &length, signature.data(), 128, publicKey, nimbo::kDigestNone), 0);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + length), r);
}

// libcrypto's own PKCS #1 v1.5 signer builds the DigestInfo for each digest.
TEST(RsaVerify, DigestTypesAcceptLibcryptoSignatures) {
  const TestKey key = developmentKey();
  const RsaPublicKey publicKey = key.publicKey();
  RSA* rsa = RSA_new();
  RSA_set0_key(rsa, bnOf(key.n).release(), bnOf(key.e).release(), bnOf(key.d).release());
  struct Case {
    int nid;
    int type;
    size_t digestLength;
  };
  for (const Case c : {Case{NID_md5, nimbo::kDigestMd5, 16}, Case{NID_sha1, nimbo::kDigestSha1, 20},
                       Case{NID_ripemd160, nimbo::kDigestRipemd160, 20}}) {
    std::vector<uint8_t> digest(c.digestLength);
    for (size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<uint8_t>(i * 11 + c.nid);
    std::vector<uint8_t> signature(128);
    unsigned int length = 0;
    ASSERT_EQ(RSA_sign(c.nid, digest.data(), static_cast<unsigned>(digest.size()), signature.data(), &length, rsa), 1);
    EXPECT_EQ(verify(digest, signature, publicKey, c.type), 0) << c.nid;
    for (int other : {nimbo::kDigestMd2, nimbo::kDigestMd5, nimbo::kDigestSha1, nimbo::kDigestRipemd128,
                      nimbo::kDigestRipemd160})
      if (other != c.type) {
        EXPECT_EQ(verify(digest, signature, publicKey, other), -1) << c.nid << " as " << other;
      }
  }
  RSA_free(rsa);
}

TEST(RsaVerify, SignatureOutsideTheModulusOrTooLong) {
  const TestKey key = developmentKey();
  const RsaPublicKey publicKey = key.publicKey();
  const auto digest = sha1({1});
  std::vector<uint8_t> signature = key.signEncoded(encoded(127 - 2 - 35, concat(kSha1Prefix, digest)));
  ASSERT_EQ(verify(digest, signature, publicKey, nimbo::kDigestSha1), 0);
  // Leading zero bytes do not count against the 512-byte limit.
  EXPECT_EQ(verify(digest, concat(std::vector<uint8_t>(600, 0), signature), publicKey, nimbo::kDigestSha1), 0);
  EXPECT_EQ(verify(digest, key.n, publicKey, nimbo::kDigestSha1), -1) << "signature equal to the modulus";
  nimbo_SetLastError(0);
  EXPECT_EQ(verify(digest, std::vector<uint8_t>(513, 1), publicKey, nimbo::kDigestSha1), -1);
  EXPECT_EQ(nimbo_GetLastError(), nimbo::kCodeNumberTooLong);
}

TEST(BigNumber, ModExpEdgesAndCodes) {
  BigNumber zero, two, modulus, result;
  const uint8_t twoByte = 2, seven = 7;
  nimbo_BigFromBytes(&two, &twoByte, 1);
  nimbo_BigFromBytes(&modulus, &seven, 1);
  nimbo_SetLastError(0);
  EXPECT_EQ(nimbo_BigModExp(&result, two, two, zero), -1);
  EXPECT_EQ(nimbo_GetLastError(), nimbo::kCodeZeroModulus);
  ASSERT_EQ(nimbo_BigModExp(&result, two, zero, modulus), 0);
  EXPECT_EQ(result.words[0], 1u);
  EXPECT_EQ(nimbo_BigBitLength(zero, nullptr), -1);
  EXPECT_EQ(nimbo_GetLastError(), nimbo::kCodeBitLengthOfZero);
  uint8_t out[1];
  const uint8_t big[2] = {1, 0};
  BigNumber twoFiftySix;
  nimbo_BigFromBytes(&twoFiftySix, big, 2);
  EXPECT_EQ(nimbo_BigToBytes(twoFiftySix, out, 1), -1);
  EXPECT_EQ(nimbo_GetLastError(), nimbo::kCodeNumberDoesNotFit);
}

// --- The openssl command-line tool -----------------------------------------

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/nimbo-test-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The key files hold n, e and d only; the command-line tool wants the primes.
// They follow from e·d = 1 modulo lambda(n) by the usual square-root search.
void writePrivateKeyPem(const TestKey& key, const std::string& path) {
  BN_CTX* ctx = BN_CTX_new();
  Bn n = bnOf(key.n), e = bnOf(key.e), d = bnOf(key.d), k(BN_new()), t(BN_new()), g(BN_new()),
     x(BN_new()), y(BN_new()), nMinus1(BN_new()), p(BN_new()), q(BN_new());
  BN_mul(k.get(), e.get(), d.get(), ctx);
  BN_sub_word(k.get(), 1);
  BN_copy(nMinus1.get(), n.get());
  BN_sub_word(nMinus1.get(), 1);
  bool found = false;
  for (unsigned long base = 2; !found && base < 100; ++base) {
    BN_copy(t.get(), k.get());
    BN_set_word(g.get(), base);
    while (!found && !BN_is_odd(t.get())) {
      BN_rshift1(t.get(), t.get());
      BN_mod_exp(x.get(), g.get(), t.get(), n.get(), ctx);
      BN_mod_sqr(y.get(), x.get(), n.get(), ctx);
      if (BN_is_one(y.get()) && !BN_is_one(x.get()) && BN_cmp(x.get(), nMinus1.get()) != 0) {
        BN_sub_word(x.get(), 1);
        BN_gcd(p.get(), x.get(), n.get(), ctx);
        BN_div(q.get(), nullptr, n.get(), p.get(), ctx);
        found = true;
      }
    }
  }
  ASSERT_TRUE(found);
  Bn p1(BN_dup(p.get())), q1(BN_dup(q.get())), dmp1(BN_new()), dmq1(BN_new()), iqmp(BN_new());
  BN_sub_word(p1.get(), 1);
  BN_sub_word(q1.get(), 1);
  BN_mod(dmp1.get(), d.get(), p1.get(), ctx);
  BN_mod(dmq1.get(), d.get(), q1.get(), ctx);
  BN_mod_inverse(iqmp.get(), q.get(), p.get(), ctx);
  BN_CTX_free(ctx);
  RSA* rsa = RSA_new();
  RSA_set0_key(rsa, n.release(), e.release(), d.release());
  RSA_set0_factors(rsa, p.release(), q.release());
  RSA_set0_crt_params(rsa, dmp1.release(), dmq1.release(), iqmp.release());
  std::FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(PEM_write_RSAPrivateKey(out, rsa, nullptr, nullptr, 0, nullptr, nullptr), 1);
  std::fclose(out);
  RSA_free(rsa);
}

int run(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

TEST(OpensslTool, Sha1SignatureVerifies) {
  TempDir dir;
  const TestKey key = developmentKey();
  writePrivateKeyPem(key, dir.file("key.pem"));
  std::vector<uint8_t> data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ (i >> 8));
  writeFile(dir.file("data"), data);
  ASSERT_EQ(run("openssl dgst -sha1 -sign " + dir.file("key.pem") + " -out " + dir.file("sig") + " " +
                dir.file("data")),
            0);
  const auto signature = readFile(dir.file("sig"));
  ASSERT_EQ(signature.size(), 128u);
  const RsaPublicKey publicKey = key.publicKey();
  EXPECT_EQ(verify(sha1(data), signature, publicKey, nimbo::kDigestSha1), 0);
  data[1234] ^= 1;
  EXPECT_EQ(verify(sha1(data), signature, publicKey, nimbo::kDigestSha1), -1) << "signature over other data";
}

TEST(OpensslTool, EncryptedFileDecryptsInPlace) {
  TempDir dir;
  for (size_t length : {0, 1, 16, 4099}) {
    std::vector<uint8_t> plain(length);
    for (size_t i = 0; i < length; ++i) plain[i] = static_cast<uint8_t>(i * 31);
    writeFile(dir.file("plain"), plain);
    const std::string key = "2b7e151628aed2a6abf7158809cf4f3c", iv = "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff";
    ASSERT_EQ(run("openssl enc -aes-128-cbc -K " + key + " -iv " + iv + " -in " + dir.file("plain") +
                  " -out " + dir.file("cipher")),
              0);
    auto data = readFile(dir.file("cipher"));
    ASSERT_EQ(data.size(), (length / 16 + 1) * 16);
    CipherContext ctx;
    ASSERT_EQ(nimbo_CryptStart(hexBytes(key).data(), 128, hexBytes(iv).data(), &ctx, 16), 0);
    size_t out = data.size();
    ASSERT_EQ(nimbo_Crypt(data.data(), data.size() * 8, data.data(), &out, nimbo::kDecrypt, &ctx, 1), 0);
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + static_cast<long>(out)), plain) << length;
  }
}

}  // namespace
