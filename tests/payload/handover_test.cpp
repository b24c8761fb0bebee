// From program file to the library: a container built with the xbitool
// writer, wrapped by mkpayload, loaded and handed to ReadXbiContainer.
#include <gtest/gtest.h>

#include <cstring>

#include "doralex/doralex.h"
#include "host/payload_handover.h"
#include "host/payload_loader.h"
#include "payload_test_support.h"
#include "tools/mkpayload/key_set.h"
#include "tools/mkpayload/payload_writer.h"
#include "xbi_builder.h"

namespace {

std::vector<uint8_t> demoContainer() {
  const auto description = nlohmann::json::parse(R"({
    "header": {"records": [
      {"type": 23, "text": "HANDOVER"},
      {"type": 40, "text": "R12X"},
      {"type": 52, "value": 5},
      {"type": 18, "date": "12/11/26", "time": "08:30:00"},
      {"type": 17, "value": 230}
    ]},
    "heap": {"image": {"pattern_length": 5000, "address": 65536}}
  })");
  return xbitool::BuildContainer(description).bytes;
}

class HandOver : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(mkpayload::readKeySet(UPDATETOOL_TEST_KEY_DIR, keys_, error)) << error;
    ASSERT_EQ(dlx::InitLibrary(dlx::kInterfaceMajor, dlx::kInterfaceMinor), 1);
    ASSERT_EQ(dlx::SetUpdateMode(1), 1);
  }
  void TearDown() override { dlx::ReleaseXbiContainer(); }

  // Wraps `plain` behind a small program image and loads it back.
  void load(const std::vector<uint8_t>& plain, size_t* length, std::unique_ptr<uint8_t[]>* buffer) {
    std::vector<uint8_t> file(700, 0xCC), payload;
    std::string error;
    ASSERT_TRUE(mkpayload::buildPayload(keys_, plain, 1700000000, file.size(), payload, error)) << error;
    file.insert(file.end(), payload.begin(), payload.end());
    writeBytes(dir_.file("UpdateTool"), file);
    ASSERT_TRUE(loadPayloadFile(dir_.file("UpdateTool"), compiledPayloadKeys(), length, buffer));
  }

  ScratchDirectory dir_;
  mkpayload::KeySet keys_;
};

TEST_F(HandOver, LibraryReadsTheLoadedContainer) {
  const auto plain = demoContainer();
  size_t length = 0;
  std::unique_ptr<uint8_t[]> loaded, block;
  load(plain, &length, &loaded);
  dlx::ProductInfo info{};
  ASSERT_TRUE(handOverPayload(std::move(loaded), length, &info, &block))
      << std::hex << dlx::GetLatestLibraryError(0).code;
  EXPECT_STREQ(info.productType, "R12X");
  EXPECT_STREQ(info.projectName, "HANDOVER");
  EXPECT_STREQ(info.compileTime, "08:30:00");
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::memcmp(block.get(), plain.data(), plain.size()), 0) << "the library's block is the plain container";
}

TEST_F(HandOver, RefusedContainerIsReportedByTheLibrary) {
  std::vector<uint8_t> notAContainer(300, 'z');
  size_t length = 0;
  std::unique_ptr<uint8_t[]> loaded, block;
  load(notAContainer, &length, &loaded);
  dlx::ProductInfo info{};
  EXPECT_FALSE(handOverPayload(std::move(loaded), length, &info, &block));
  EXPECT_NE(dlx::GetLatestLibraryError(0).code, 0u);
}

}  // namespace
