// mkpayload as a command: key generation, wrap, and verify with the loader.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>

#include "payload_test_support.h"
#include "tools/mkpayload/key_set.h"

namespace {

struct CommandResult {
  int exitCode;
  std::string output;
};

CommandResult mkpayload(const std::string& arguments) {
  const std::string command = std::string(MKPAYLOAD_PATH) + " " + arguments + " 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  std::array<char, 512> chunk;
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string sha256Hex(const std::vector<uint8_t>& bytes) {
  uint8_t digest[32];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  return mkpayload::toHex(digest, length);
}

class Mkpayload : public testing::Test {
 protected:
  void SetUp() override {
    container_.resize(7777);
    for (size_t i = 0; i < container_.size(); ++i) container_[i] = static_cast<uint8_t>(i * i + 1);
    writeBytes("container.bin", container_);
    writeBytes("program", std::vector<uint8_t>(4096, 0x7F));
    chmod("program", 0755);
  }

  std::string wrap(const std::string& keyDir, const std::string& out, const std::string& extra = "") {
    return "wrap --keys " + keyDir + " --container container.bin --program program --out " + out + extra;
  }

  ScratchDirectory dir_;
  std::vector<uint8_t> container_;
};

TEST_F(Mkpayload, WrapThenVerifyRoundTrip) {
  const CommandResult wrapped = mkpayload(wrap(UPDATETOOL_TEST_KEY_DIR, "wrapped", " --time-stamp 1234567890"));
  ASSERT_EQ(wrapped.exitCode, 0) << wrapped.output;
  const CommandResult verified = mkpayload("verify wrapped");
  EXPECT_EQ(verified.exitCode, 0);
  EXPECT_EQ(verified.output, "OK 7777 " + sha256Hex(container_) + "\n");

  const std::string file = readText("wrapped");
  ASSERT_GT(file.size(), 4096u + 138 + 34);
  EXPECT_EQ(file.substr(0, 4096), std::string(4096, 0x7F)) << "the program is copied unchanged";
  EXPECT_EQ(file.substr(4096, 10), std::string("\x00\x01\x49\x96\x02\xD2\x00\x00\x00\x80", 10));
  EXPECT_EQ(file.size(), 4096u + 138 + (7777 / 16 + 1) * 16 + 34);
  EXPECT_EQ(file.substr(file.size() - 7), "QVX_UDT");
  struct stat st {};
  ASSERT_EQ(stat("wrapped", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(Mkpayload, WrapMayReplaceTheProgramItself) {
  ASSERT_EQ(mkpayload(wrap(UPDATETOOL_TEST_KEY_DIR, "program")).exitCode, 0);
  EXPECT_EQ(mkpayload("verify program").output, "OK 7777 " + sha256Hex(container_) + "\n");
}

TEST_F(Mkpayload, GeneratedKeysHaveTheKeySetShape) {
  const CommandResult generated = mkpayload("generate-keys fresh");
  ASSERT_EQ(generated.exitCode, 0) << generated.output;
  mkpayload::KeySet keys;
  std::string error;
  ASSERT_TRUE(mkpayload::readKeySet("fresh", keys, error)) << error;
  EXPECT_EQ(readText("fresh/aes128.hex").size(), 33u);
  EXPECT_EQ(readText("fresh/ivtail.hex").size(), 25u);
  BIGNUM* e = BN_bin2bn(keys.verifyExponent.data(), 128, nullptr);
  EXPECT_EQ(BN_num_bits(e), 1023);
  BN_free(e);
  // A payload signed and encrypted with other keys than the program's is refused.
  ASSERT_EQ(mkpayload(wrap("fresh", "foreign")).exitCode, 0);
  const CommandResult verified = mkpayload("verify foreign");
  EXPECT_EQ(verified.exitCode, 1);
  EXPECT_TRUE(verified.output == "decryption failed!\n" || verified.output == "could not verify signature!\n")
      << verified.output;
}

TEST_F(Mkpayload, RefusesBadInput) {
  std::filesystem::create_directory("broken");
  for (const char* name : {"aes128.hex", "ivtail.hex", "rsa-modulus.hex", "rsa-verify-exponent.hex",
                           "rsa-sign-exponent.hex"})
    std::filesystem::copy_file(std::string(UPDATETOOL_TEST_KEY_DIR) + "/" + name, std::string("broken/") + name);
  writeBytes("broken/aes128.hex", {'1', '2', 'x', '4'});
  const CommandResult badKeys = mkpayload(wrap("broken", "out"));
  EXPECT_EQ(badKeys.exitCode, 1);
  EXPECT_NE(badKeys.output.find("aes128.hex"), std::string::npos) << badKeys.output;
  EXPECT_FALSE(std::filesystem::exists("out"));

  EXPECT_EQ(mkpayload(wrap(UPDATETOOL_TEST_KEY_DIR, "out", " --time-stamp 99999999999")).exitCode, 1);
  EXPECT_EQ(mkpayload("wrap --keys x --container container.bin").exitCode, 2);
  EXPECT_EQ(mkpayload("sign").exitCode, 2);

  const CommandResult plain = mkpayload("verify program");
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_EQ(plain.output, std::string("wrong Kennung ") + std::string(7, 0x7F) + "!\r\n");
}

}  // namespace
