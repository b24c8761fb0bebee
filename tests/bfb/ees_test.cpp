// EEPROM block access against a phone that keeps its blocks, refuses on
// request and may be busy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "doralex/bfb/bfb_link.h"
#include "doralex/bfb/ees.h"
#include "fake_phone.h"
#include "pty_peer.h"

namespace dlx {
namespace {

using bfbtest::EesBlock;
using bfbtest::FakePhone;
using bfbtest::PhoneScript;
using bfbtest::PtyPeer;
using Bytes = std::vector<uint8_t>;

// A valid record as the phone would hold it.
Bytes validRecord() {
  Bytes record(kEesRecordSize);
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 7);
  record[1] = kEesRecordMarker;
  uint8_t check = 0;
  for (std::size_t i = 0; i < 63; ++i) check ^= record[i];
  record[63] = check;
  return record;
}

std::vector<Bytes> requestsOf(const FakePhone& phone, uint8_t command) {
  std::vector<Bytes> found;
  for (const Bytes& r : phone.eesRequests) {
    if (r[0] == command) found.push_back(r);
  }
  return found;
}

class EesTest : public ::testing::Test {
 protected:
  void open(PhoneScript script) {
    phone_ = std::make_unique<FakePhone>(peer_, std::move(script));
    phone_->start();
    handle_ = WComOpen(0, 57600);
    ASSERT_NE(handle_, kInvalidWHandle);
  }
  FakePhone& finish() {
    WComClose(handle_);
    phone_->stopAndJoin();
    return *phone_;
  }

  PtyPeer peer_;
  std::unique_ptr<FakePhone> phone_;
  WHandle handle_ = kInvalidWHandle;
};

TEST_F(EesTest, WriteRecordSetsMarkerAndCheckAndWritesInChunksOfTwenty) {
  open(PhoneScript{});
  uint8_t record[kEesRecordSize];
  std::memset(record, 0xFF, sizeof record);
  ASSERT_EQ(EesWriteRecord(handle_, record), 1);
  EXPECT_EQ(EesLastStatus(), 0);
  FakePhone& phone = finish();

  const EesBlock& stored = phone.blocks().at(kEesRecordBlock);
  ASSERT_EQ(stored.data.size(), kEesRecordSize);
  EXPECT_EQ(stored.data[1], 0xA7);
  EXPECT_EQ(stored.data[63], 0xA7);
  EXPECT_EQ(stored.mode, 0xFF);
  for (std::size_t i = 0; i < 63; ++i) {
    if (i != 1) {
      EXPECT_EQ(stored.data[i], 0xFF) << i;
    }
  }

  ASSERT_EQ(phone.eesRequests.size(), 6u);
  EXPECT_EQ(phone.eesRequests.front(), (Bytes{0x11, 0x2B, 0x14, 0x40, 0x00, 0xFF}));
  std::vector<Bytes> chunks = requestsOf(phone, 0x12);
  ASSERT_EQ(chunks.size(), 4u);
  const std::size_t sizes[] = {20, 20, 20, 4};
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    EXPECT_EQ(chunks[i][3] | chunks[i][4] << 8, static_cast<int>(i * 20));
    EXPECT_EQ(chunks[i].size(), 5 + sizes[i]);
  }
  EXPECT_EQ(phone.eesRequests.back(), (Bytes{0x13, 0x2B, 0x14}));
}

TEST(EesRecord, ReadRecordJudgesMarkerAndCheck) {
  struct Case {
    const char* name;
    Bytes stored;
    int result;
  };
  Bytes noMarker = validRecord();
  noMarker[1] = 0xA6;
  noMarker[63] ^= 0x01;  // check still holds
  Bytes shortBlock = validRecord();
  shortBlock.resize(40);
  Bytes badCheck = validRecord();
  badCheck[20] ^= 0x40;
  const Case cases[] = {
      {"valid", validRecord(), 1}, {"marker missing", noMarker, 0}, {"check fails", badCheck, 0},
      {"short block", shortBlock, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PhoneScript script;
    script.blocks[kEesRecordBlock] = EesBlock{0xFF, c.stored};
    PtyPeer peer;
    FakePhone phone(peer, script);
    phone.start();
    WHandle handle = WComOpen(0, 57600);
    ASSERT_NE(handle, kInvalidWHandle);
    uint8_t record[kEesRecordSize] = {};
    EXPECT_EQ(EesReadRecord(handle, record), c.result);
    if (c.result == 1) {
      EXPECT_EQ(Bytes(record, record + kEesRecordSize), c.stored);
    }
    EXPECT_EQ(EesLastStatus(), 0);
    WComClose(handle);
    phone.stopAndJoin();
  }
}

TEST(EesRecord, RefusedChunkReadsMapToStatusAndRetryOnlyWhenNotReady) {
  struct Case {
    std::deque<uint8_t> refusals;
    int result;
    int status;
    std::size_t chunkRequests;  // of the four a 64-byte record takes
  };
  const Case cases[] = {
      {{0x35, 0x35}, 0, 7, 1},        // refused for good: no second attempt
      {{0x36}, 0, 5, 1},
      {{0x20, 0x20, 0x20}, 0, 3, 2},  // not ready: exactly one more attempt
      {{0x20}, 1, 0, 5},              // the second attempt is taken
      {{0x77}, 0, 8, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "first refusal " << int(c.refusals.front()));
    PhoneScript script;
    script.blocks[kEesRecordBlock] = EesBlock{0xFF, validRecord()};
    script.eesRefusals[0x14] = c.refusals;
    PtyPeer peer;
    FakePhone phone(peer, script);
    phone.start();
    WHandle handle = WComOpen(0, 57600);
    ASSERT_NE(handle, kInvalidWHandle);
    uint8_t record[kEesRecordSize] = {};
    EXPECT_EQ(EesReadRecord(handle, record), c.result);
    EXPECT_EQ(EesLastStatus(), c.status);
    WComClose(handle);
    phone.stopAndJoin();
    EXPECT_EQ(requestsOf(phone, 0x14).size(), c.chunkRequests);
  }
}

TEST(EesRecord, SilentPhoneGivesStatusFourAfterTwoAttempts) {
  PtyPeer peer;  // nobody answers
  WHandle handle = WComOpen(0, 57600);
  ASSERT_NE(handle, kInvalidWHandle);
  uint8_t record[kEesRecordSize] = {};
  EXPECT_EQ(EesReadRecord(handle, record), 0);
  EXPECT_EQ(EesLastStatus(), 4);
  // Two block-information requests went out, and nothing else.
  Bytes info{0x14, 0x04, 0x10, 0x15, 0x2B, 0x14, 0x15 ^ 0x2B ^ 0x14};
  Bytes twice = info;
  twice.insert(twice.end(), info.begin(), info.end());
  EXPECT_EQ(peer.readUntilQuiet(50), twice);
  WComClose(handle);
}

TEST_F(EesTest, BusyOpenFollowedByAcceptanceCountsAsSuccess) {
  PhoneScript script;
  script.eesRefusals[0x11] = {0x50};
  script.busyMs = 400;  // longer than the port's own time-out
  open(script);
  uint8_t record[kEesRecordSize];
  std::memset(record, 0xFF, sizeof record);
  EXPECT_EQ(EesWriteRecord(handle_, record), 1);
  EXPECT_EQ(EesLastStatus(), 0);
  uint32_t timeout = 0;
  ASSERT_EQ(WComGetTimeOut(handle_, &timeout), 1);
  EXPECT_EQ(timeout, 250u);
  FakePhone& phone = finish();
  EXPECT_EQ(requestsOf(phone, 0x11).size(), 1u);
  EXPECT_EQ(phone.blocks().at(kEesRecordBlock).data[63], 0xA7);
}

TEST_F(EesTest, RefusedOpenIsNotRetriedAndWritesNothing) {
  PhoneScript script;
  script.eesRefusals[0x11] = {0x20, 0x20};
  open(script);
  uint8_t record[kEesRecordSize];
  std::memset(record, 0xFF, sizeof record);
  EXPECT_EQ(EesWriteRecord(handle_, record), 0);
  EXPECT_EQ(EesLastStatus(), 3);
  FakePhone& phone = finish();
  EXPECT_EQ(phone.eesRequests.size(), 1u);
}

TEST_F(EesTest, BlockLargerThanARecordIsRefusedWithoutWritingPastIt) {
  PhoneScript script;
  Bytes big(80, 0x3C);
  script.blocks[kEesRecordBlock] = EesBlock{0xFF, big};
  open(script);
  uint8_t buffer[kEesRecordSize + 32];
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(EesReadRecord(handle_, buffer), 0);
  EXPECT_TRUE(std::all_of(buffer, buffer + sizeof buffer, [](uint8_t b) { return b == 0xEE; }));
  FakePhone& phone = finish();
  EXPECT_TRUE(requestsOf(phone, 0x14).empty());
}

}  // namespace
}  // namespace dlx
