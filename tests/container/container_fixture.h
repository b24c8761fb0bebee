// Containers for the reader's tests, written by the xbitool builder from
// JSON descriptions, and a fixture that reads them with a started library.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include <nlohmann/json.hpp>

#include "doralex/container.h"
#include "doralex/doralex.h"
#include "xbi_builder.h"

namespace dlx::test {

using nlohmann::json;

// A container the reader accepts: version-95 header with the records the
// read needs, and 200 bytes of software in 64-byte blocks.
inline json AcceptedDescription() {
  return json::parse(R"({
    "header": {"records": [
      {"type": 16, "value": 95},
      {"type": 17, "value": 230},
      {"type": 40, "text": "R12X"},
      {"type": 23, "text": "PRJ12X"},
      {"type": 18, "date": "01.02.03", "time": "04:05:06"},
      {"type": 29, "value": 1234},
      {"type": 52, "value": 5},
      {"type": 64, "value": 0}
    ]},
    "heap": {"image": {"pattern_length": 200, "address": "0x200000"}}
  })");
}

inline std::vector<uint8_t> Build(const json& description) {
  return xbitool::BuildContainer(description).bytes;
}

// The codes added to channel 0's list since `before` entries.
inline std::vector<uint32_t> CodesSince(int before) {
  std::vector<uint32_t> codes;
  for (int i = before; i < GetLibraryErrorCount(0); ++i) codes.push_back(GetLibraryErrorAt(0, i)->code);
  return codes;
}

class ContainerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(InitLibrary(kInterfaceMajor, kInterfaceMinor), 1);
    SetUpdateMode(1);
  }
  void TearDown() override { ReleaseXbiContainer(); }

  // Reads a copy of `bytes` in a block of exactly their size, so that the
  // sanitizer sees any read past the end, kept alive until the next read;
  // remembers which errors the read added.
  int Read(const std::vector<uint8_t>& bytes) {
    size_ = bytes.size();
    buffer_ = std::make_unique<uint8_t[]>(size_);
    std::copy(bytes.begin(), bytes.end(), buffer_.get());
    errorsBefore_ = GetLibraryErrorCount(0);
    info_ = ProductInfo{};
    return ReadXbiContainer(&info_, buffer_.get(), static_cast<uint32_t>(size_));
  }
  int Read(const json& description) { return Read(Build(description)); }

  std::vector<uint32_t> Codes() const { return CodesSince(errorsBefore_); }
  const LibraryErrorEntry& Latest() const { return GetLatestLibraryError(0); }

  std::unique_ptr<uint8_t[]> buffer_;
  std::size_t size_ = 0;
  std::vector<uint8_t> bytes_;  // for tests that call ReadXbiContainer themselves
  ProductInfo info_{};
  int errorsBefore_ = 0;
};

}  // namespace dlx::test
