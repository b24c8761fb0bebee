// The payload loader on program files with payloads made by mkpayload, intact
// and damaged: its result, trace lines and start-up progress.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>

#include "crypto/nimbo.h"
#include "host/payload_loader.h"
#include "host/shared_state.h"
#include "host/trace.h"
#include "payload_test_support.h"
#include "tools/mkpayload/key_set.h"
#include "tools/mkpayload/payload_writer.h"

namespace {

constexpr uint32_t kTimeStamp = 1700000000;

class Loader : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(mkpayload::readKeySet(UPDATETOOL_TEST_KEY_DIR, keys_, error)) << error;
    writeBytes("QuorTest.txt", {});
    ASSERT_TRUE(startTrace());
    progressPercent.store(0);
  }

  std::vector<uint8_t> program(size_t length) const {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>('A' + i % 26);
    return bytes;
  }

  std::vector<uint8_t> container(size_t length) const {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + 7);
    return bytes;
  }

  std::vector<uint8_t> programWithPayload(const std::vector<uint8_t>& image, const std::vector<uint8_t>& plain) const {
    std::vector<uint8_t> file = image, payload;
    std::string error;
    EXPECT_TRUE(mkpayload::buildPayload(keys_, plain, kTimeStamp, image.size(), payload, error)) << error;
    file.insert(file.end(), payload.begin(), payload.end());
    return file;
  }

  // Loads `file` written to disk; the trace text it wrote goes to *trace.
  bool load(const std::vector<uint8_t>& file, std::vector<uint8_t>* plain = nullptr) {
    writeBytes(path_, file);
    return loadPath(path_, plain);
  }

  bool loadPath(const std::string& path, std::vector<uint8_t>* plain = nullptr) {
    size_t length = 12345;
    std::unique_ptr<uint8_t[]> buffer;
    const size_t before = readText("QuorTest.txt").size();
    const bool ok = loadPayloadFile(path, compiledPayloadKeys(), &length, &buffer);
    trace_ = readText("QuorTest.txt").substr(before);
    if (!ok) {
      EXPECT_EQ(buffer, nullptr);
      EXPECT_EQ(length, 12345u) << "nothing handed out on failure";
    } else if (plain != nullptr) {
      plain->assign(buffer.get(), buffer.get() + length);
    }
    return ok;
  }

  ScratchDirectory dir_;
  mkpayload::KeySet keys_;
  std::string path_ = dir_.file("UpdateTool");
  std::string trace_;
};

TEST_F(Loader, AcceptsPayloadsOfAnyLength) {
  for (size_t length : {1, 15, 16, 17, 5000}) {
    const auto image = program(1000), plain = container(length);
    std::vector<uint8_t> loaded;
    ASSERT_TRUE(load(programWithPayload(image, plain), &loaded)) << trace_;
    EXPECT_EQ(loaded, plain);
    const size_t cipher = (length / 16 + 1) * 16;
    EXPECT_EQ(trace_, "Read Kennung: QVX_UDT\r\nApplication File Length: 1000 Bytes\r\nBinary File Length: " +
                          std::to_string(138 + cipher) + " Bytes\r\n");
    EXPECT_EQ(progressPercent.load(), 59.0f);
  }
}

TEST_F(Loader, TrailerBytesWithoutAFieldMayHoldAnything) {
  const auto plain = container(100);
  auto file = programWithPayload(program(300), plain);
  for (size_t i = file.size() - 34; i < file.size() - 7; ++i)
    if (i != file.size() - 34 + 5 && i != file.size() - 34 + 8 && i != file.size() - 34 + 12 &&
        i != file.size() - 34 + 17)
      file[i] = 0xFF;
  std::vector<uint8_t> loaded;
  ASSERT_TRUE(load(file, &loaded)) << trace_;
  EXPECT_EQ(loaded, plain);
}

// Byte offsets in a program file of a 1000-byte image and a 40-byte container.
constexpr size_t kImage = 1000;
constexpr size_t kVersionAt = kImage, kStampAt = kImage + 2, kSignatureLengthAt = kImage + 6,
                 kSignatureAt = kImage + 10, kCipherAt = kImage + 138;

void setImageLength(std::vector<uint8_t>& file, uint32_t a) {
  uint8_t* trailer = file.data() + file.size() - 34;
  trailer[5] = static_cast<uint8_t>(a);
  trailer[12] = static_cast<uint8_t>(a >> 8);
  trailer[17] = static_cast<uint8_t>(a >> 16);
  trailer[8] = static_cast<uint8_t>(a >> 24);
}

TEST_F(Loader, RefusesDamagedFiles) {
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    std::string lastLine;  // "%s" stands for the path
    float progress;
  };
  const std::vector<Case> cases = {
      {"no payload", [](auto& f) { f.resize(kImage); }, "wrong Kennung FGHIJKL!\r\n", 28},
      {"153 bytes", [](auto& f) { f.erase(f.begin(), f.end() - 153); }, "%s too small!\r\n", 24},
      {"154 bytes", [](auto& f) { f.erase(f.begin(), f.end() - 154); setImageLength(f, 0); }, "could not read %s!\r\n", 28},
      {"version 00 02", [](auto& f) { f[kVersionAt + 1] = 2; }, "wrong version number in %s!\r\n", 28},
      {"signature length 256", [](auto& f) { f[kSignatureLengthAt + 2] = 1; f[kSignatureLengthAt + 3] = 0; }, "could not read %s!\r\n", 32},
      {"ciphertext not a multiple of 16", [](auto& f) { f.erase(f.begin() + kCipherAt); }, "decryption failed!", 41},
      {"no ciphertext", [](auto& f) { f.erase(f.begin() + kCipherAt, f.end() - 34); }, "decryption failed!", 41},
      {"altered time stamp", [](auto& f) { f[kStampAt + 3] ^= 1; }, "could not verify signature!", 59},
      {"altered signature", [](auto& f) { f[kSignatureAt + 64] ^= 0x80; }, "could not verify signature!", 59},
      {"image beyond the file", [](auto& f) { setImageLength(f, 0xFFFFFFF0); }, "could not read %s!\r\n", 28},
      {"no room for the payload header", [](auto& f) { setImageLength(f, static_cast<uint32_t>(f.size() - 34 - 137)); }, "could not read %s!\r\n", 28},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto file = programWithPayload(program(kImage), container(40));
    c.damage(file);
    progressPercent.store(0);
    EXPECT_FALSE(load(file));
    std::string expected = c.lastLine;
    if (const auto at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, path_);
    EXPECT_TRUE(trace_.ends_with(expected)) << trace_;
    EXPECT_EQ(progressPercent.load(), c.progress);
  }
}

TEST_F(Loader, AlteredTimeStampChangesOnlyTheFirstPlainBlock) {
  const auto plain = container(64);
  auto file = programWithPayload(program(kImage), plain);
  file[kStampAt] ^= 0x40;
  // Decrypt with the altered IV by hand: only block 0 differs from the plain text.
  std::vector<uint8_t> cipher(file.begin() + kCipherAt, file.end() - 34), expectedIv(16);
  std::copy(file.begin() + kStampAt, file.begin() + kStampAt + 4, expectedIv.begin());
  std::copy(keys_.ivTail.begin(), keys_.ivTail.end(), expectedIv.begin() + 4);
  CipherContext ctx;
  ASSERT_EQ(nimbo_CryptStart(keys_.cipherKey.data(), 128, expectedIv.data(), &ctx, 16), 0);
  size_t length = cipher.size();
  ASSERT_EQ(nimbo_Crypt(cipher.data(), cipher.size() * 8, cipher.data(), &length, nimbo::kDecrypt, &ctx, 1), 0);
  ASSERT_EQ(length, plain.size());
  EXPECT_NE(std::vector<uint8_t>(cipher.begin(), cipher.begin() + 16), std::vector<uint8_t>(plain.begin(), plain.begin() + 16));
  EXPECT_EQ(std::vector<uint8_t>(cipher.begin() + 16, cipher.begin() + 64), std::vector<uint8_t>(plain.begin() + 16, plain.end()));
  EXPECT_FALSE(load(file));
  EXPECT_TRUE(trace_.ends_with("could not verify signature!")) << trace_;
}

TEST_F(Loader, RefusesEveryFlippedPayloadByte) {
  const auto intact = programWithPayload(program(kImage), container(40));
  for (size_t at = kVersionAt; at < intact.size() - 34; ++at) {
    auto file = intact;
    file[at] ^= static_cast<uint8_t>(1u << (at % 8));
    EXPECT_FALSE(load(file)) << "byte " << at - kImage << " of the payload";
    EXPECT_TRUE(trace_.ends_with("decryption failed!") || trace_.ends_with("could not verify signature!") ||
                trace_.ends_with("could not read " + path_ + "!\r\n") ||
                trace_.ends_with("wrong version number in " + path_ + "!\r\n"))
        << trace_;
  }
}

TEST_F(Loader, RefusesEveryTruncation) {
  const auto intact = programWithPayload(program(200), container(40));
  for (size_t length = 0; length < intact.size(); ++length)
    EXPECT_FALSE(load(std::vector<uint8_t>(intact.begin(), intact.begin() + static_cast<long>(length))))
        << length << " bytes";
}

TEST_F(Loader, RefusesWhatIsNoFile) {
  EXPECT_FALSE(loadPath(dir_.file("missing")));
  EXPECT_EQ(trace_, "could not get file information for " + dir_.file("missing") + "!\r\n");
  std::filesystem::create_directory(dir_.file("folder"));
  EXPECT_FALSE(loadPath(dir_.file("folder")));
  EXPECT_EQ(trace_, dir_.file("folder") + " is not a regular file!\r\n");
}

TEST_F(Loader, LoadEmbeddedPayloadReadsTheProgramPath) {
  const auto plain = container(300);
  writeBytes(path_, programWithPayload(program(kImage), plain));
  setProgramPath(path_);
  size_t length = 0;
  std::unique_ptr<uint8_t[]> buffer;
  ASSERT_TRUE(LoadEmbeddedPayload(&length, &buffer));
  EXPECT_EQ(std::vector<uint8_t>(buffer.get(), buffer.get() + length), plain);
}

// Without the trace file nothing is traced, yet a caller that asks still
// learns why the payload was refused.
TEST(LoaderWithoutTrace, WritesNoTraceButReportsTheFailure) {
  ScratchDirectory dir;
  ASSERT_FALSE(startTrace());
  std::vector<uint8_t> image(500, 'x');
  std::copy_n("NO_PAYL", 7, image.end() - 7);
  writeBytes("UpdateTool", image);
  std::string failure;
  size_t length = 0;
  std::unique_ptr<uint8_t[]> buffer;
  EXPECT_FALSE(loadPayloadFile(dir.file("UpdateTool"), compiledPayloadKeys(), &length, &buffer, &failure));
  EXPECT_EQ(failure, "wrong Kennung NO_PAYL!\r\n");
  EXPECT_FALSE(std::filesystem::exists("QuorTest.txt"));
}

}  // namespace
