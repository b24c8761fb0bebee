// The BFB link over a pseudo-terminal: frames, resynchronisation, the timed
// receive, the AT-to-BFB switch and the boot ROM wake-up.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "doralex/bfb/bfb_link.h"
#include "doralex/bfb/boot_block.h"
#include "fake_phone.h"
#include "pty_peer.h"

namespace dlx {
namespace {

using bfbtest::FakePhone;
using bfbtest::PhoneScript;
using bfbtest::PtyPeer;
using Bytes = std::vector<uint8_t>;

TEST(BfbPort, OpenRefusals) {
  PtyPeer peer;
  WHandle handle = WComOpen(0, 57600);
  ASSERT_NE(handle, kInvalidWHandle);
  uint32_t value = 0;
  EXPECT_EQ(WComGetTimeOut(handle, &value), 1);
  EXPECT_EQ(value, 250u);
  EXPECT_EQ(WGetComConfiguration(handle, &value), 1);
  EXPECT_EQ(value, 57600u);
  EXPECT_EQ(peer.speed(), 57600u);

  EXPECT_EQ(WComOpen(0, 57600), kInvalidWHandle) << "slot in use";
  EXPECT_EQ(WComOpen(1, 57600), kInvalidWHandle) << "COM2 is not in the device table";
  EXPECT_EQ(WComOpen(10, 57600), kInvalidWHandle) << "no slot for COM11";
  EXPECT_EQ(WComOpen(-1, 57600), kInvalidWHandle);

  ASSERT_EQ(WComClose(handle), 1);
  // A closed handle reaches nothing, not even after the port is opened again.
  EXPECT_EQ(WComClose(handle), 0);
  EXPECT_EQ(WComSetTimeOut(handle, 100), 0);
  EXPECT_EQ(WComPut(handle, 0x55), 0);
  WHandle again = WComOpen(0, 57600);
  ASSERT_NE(again, kInvalidWHandle);
  EXPECT_NE(again, handle);
  EXPECT_EQ(WComGetTimeOut(handle, &value), 0);
  EXPECT_EQ(WComClose(again), 1);
}

TEST(BfbFrames, PingOnTheLineAndItsAnswer) {
  PtyPeer peer;
  Bytes sent;
  peer.start([&](PtyPeer& p) {
    sent = p.read(4, 2000);
    p.write({0x02, 0x02, 0x00, 0x14, 0xAA});
  });
  WHandle handle = WComOpen(0, 57600);
  ASSERT_NE(handle, kInvalidWHandle);
  EXPECT_EQ(WPingMobile(handle), 1);
  peer.join();
  EXPECT_EQ(sent, (Bytes{0x02, 0x01, 0x03, 0x14}));
  WComClose(handle);
}

TEST(BfbFrames, ReadResynchronisesAndRefusesBadLengths) {
  struct Case {
    const char* name;
    Bytes line;
    int result;
    uint8_t type;
    Bytes data;
  };
  Bytes longFrame{0x0E, 33, 0x0E ^ 33};
  longFrame.resize(3 + 33, 0x11);
  Bytes noise100(100, 0x01);
  noise100.insert(noise100.end(), {0x02, 0x01, 0x03, 0x14});
  Bytes noise101(101, 0x01);
  noise101.insert(noise101.end(), {0x02, 0x01, 0x03, 0x14});
  const Case cases[] = {
      {"plain ping", {0x02, 0x01, 0x03, 0x14}, 1, 0x02, {0x14}},
      {"one stray byte", {0x7F, 0x02, 0x01, 0x03, 0x14}, 1, 0x02, {0x14}},
      {"32 data bytes", [] {
         Bytes b{0x14, 32, 0x14 ^ 32};
         b.resize(3 + 32, 0x5A);
         return b;
       }(), 1, 0x14, Bytes(32, 0x5A)},
      {"33 data bytes announced", longFrame, 0, 0, {}},
      {"0 data bytes announced", {0x02, 0x00, 0x02}, 0, 0, {}},
      {"data cut short", {0x02, 0x03, 0x01, 0x14}, 0, 0, {}},
      {"100 bytes of noise", noise100, 1, 0x02, {0x14}},
      {"101 bytes of noise", noise101, 0, 0, {}},
  };
  PtyPeer peer;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WHandle handle = WComOpen(0, 57600);
    ASSERT_NE(handle, kInvalidWHandle);
    peer.write(c.line);
    uint8_t type = 0;
    uint8_t length = 0;
    uint8_t data[kBfbMaxData + 8] = {};
    EXPECT_EQ(WComRead(handle, &type, &length, data), c.result);
    if (c.result == 1) {
      EXPECT_EQ(type, c.type);
      EXPECT_EQ(Bytes(data, data + length), c.data);
    }
    for (std::size_t i = kBfbMaxData; i < sizeof data; ++i) EXPECT_EQ(data[i], 0) << i;
    WComPurge(handle);
    WComClose(handle);
    peer.readUntilQuiet(10);
  }
}

TEST(BfbFrames, ReceiveGivesUpAfterFiveReadsAndRestoresTheTimeOut) {
  PtyPeer peer;
  WHandle handle = WComOpen(0, 57600);
  ASSERT_NE(handle, kInvalidWHandle);
  // Ten frames nobody waits for: each attempt of the receive takes one.
  for (int i = 0; i < 10; ++i) peer.writeFrame(0x0E, {0x01});
  uint8_t type = 0;
  uint8_t length = 0;
  uint8_t data[kBfbMaxData];
  EXPECT_EQ(WComReceive(handle, 0x02, 0x14, &type, &length, data), 0);
  uint32_t timeout = 0;
  ASSERT_EQ(WComGetTimeOut(handle, &timeout), 1);
  EXPECT_EQ(timeout, 250u);

  int left = 0;
  while (WComRead(handle, &type, &length, data)) ++left;
  EXPECT_EQ(left, 5);

  // Frames of the wrong type or first byte are dropped until the wanted one.
  peer.writeFrame(0x0E, {0x03, 0x01});
  peer.writeFrame(0x02, {0x15, 0xAA});
  peer.writeFrame(0x02, {0x14, 0xAA});
  EXPECT_EQ(WComReceive(handle, 0x02, 0x14, &type, &length, data), 1);
  EXPECT_EQ(Bytes(data, data + length), (Bytes{0x14, 0xAA}));
  WComClose(handle);
}

TEST(BfbMode, SucceedsOnTheThirdSpeedAndRestoresTheSpeed) {
  PtyPeer peer;
  PhoneScript script;
  script.atMode = true;
  script.atSpeed = 57600;
  FakePhone phone(peer, script);
  WHandle handle = WComOpen(0, 57600);
  ASSERT_NE(handle, kInvalidWHandle);
  ASSERT_EQ(WComConfigure(handle, 9600), 1);
  phone.start();

  EXPECT_EQ(WSetBfbMode(handle), 1);
  uint32_t speed = 0;
  ASSERT_EQ(WGetComConfiguration(handle, &speed), 1);
  EXPECT_EQ(speed, 9600u);
  EXPECT_EQ(peer.speed(), 9600u);
  EXPECT_EQ(WPingMobile(handle), 1) << "the phone speaks BFB now";
  phone.stopAndJoin();
  EXPECT_EQ(phone.atCommands, (std::vector<std::string>(3, "at^sqwe=1")));
  WComClose(handle);
}

struct Burst {
  std::string text;
  uint32_t speed;
};

// Runs the mode switch against a phone that ignores the full command at every
// speed and, when `answersSplitCommand`, takes the split one. The commands as
// they arrived, with the line speed of each.
std::vector<Burst> switchIgnoringTheFullCommand(bool answersSplitCommand, int expectedResult) {
  PtyPeer peer;
  std::vector<Burst> bursts;
  // Each command arrives in one write, half a second after the one before.
  peer.start([&](PtyPeer& p) {
    while (!p.stopping()) {
      Bytes first = p.read(1, 20);
      if (first.empty()) continue;
      uint32_t speed = p.speed();
      Bytes rest = p.read(63, 100);
      std::string text(first.begin(), first.end());
      text.append(rest.begin(), rest.end());
      bursts.push_back({text, speed});
      if (!answersSplitCommand) continue;
      if (text == "at^sbf") p.write(Bytes(text.begin(), text.end()));  // the echo
      if (text == "b=1\r") {
        std::string answer = "b=1\r\r\nOK\r\n";
        p.write(Bytes(answer.begin(), answer.end()));
      }
    }
  });
  WHandle handle = WComOpen(0, 57600);
  EXPECT_NE(handle, kInvalidWHandle);
  EXPECT_EQ(WSetBfbMode(handle), expectedResult);
  uint32_t speed = 0;
  EXPECT_EQ(WGetComConfiguration(handle, &speed), 1);
  EXPECT_EQ(speed, 57600u);
  EXPECT_EQ(peer.speed(), 57600u);
  peer.stop();
  peer.join();
  WComClose(handle);
  return bursts;
}

void expectBursts(const std::vector<Burst>& bursts, const std::vector<Burst>& expected) {
  ASSERT_EQ(bursts.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(bursts[i].text, expected[i].text) << i;
    EXPECT_EQ(bursts[i].speed, expected[i].speed) << i;
  }
}

const std::vector<Burst> kFullCommandAtFourSpeeds = {
    {"at^sqwe=1\r", 19200}, {"at^sqwe=1\r", 115200}, {"at^sqwe=1\r", 57600},
    {"at^sqwe=1\r", 38400}, {"at^sbf", 19200}};

TEST(BfbMode, SilentPhoneGetsFourSpeedsAndTheSplitCommandThenTheSpeedBack) {
  expectBursts(switchIgnoringTheFullCommand(false, 0), kFullCommandAtFourSpeeds);
}

TEST(BfbMode, SplitCommandSwitchesAPhoneThatIgnoresTheFullOne) {
  std::vector<Burst> expected = kFullCommandAtFourSpeeds;
  expected.push_back({"b=1\r", 19200});
  expectBursts(switchIgnoringTheFullCommand(true, 1), expected);
}

TEST(BfbMobileOn, WakesTheBootRomAndSendsThePatchedBootBlock) {
  PtyPeer peer;
  Bytes boot;
  uint32_t wakeSpeed = 0;
  int wakeBytes = 0;
  peer.start([&](PtyPeer& p) {
    // Stay silent for two wake-up bytes, answer the third.
    while (wakeBytes < 3) {
      Bytes b = p.read(1, 3000);
      if (b.empty()) return;
      if (b[0] == 0x55) ++wakeBytes;
    }
    wakeSpeed = p.speed();
    p.write({0xA0});
    boot = p.read(1 + kBootBlockSize + 1, 3000);
    p.write({0xA5});
  });
  WHandle handle = WComOpen(0, 57600);
  ASSERT_NE(handle, kInvalidWHandle);
  EXPECT_EQ(WMobileOn(handle), 1);
  peer.join();

  // (A pty keeps no parity bit, so only the speed of the wake-up shows here.)
  EXPECT_EQ(wakeSpeed, 19200u);
  ASSERT_EQ(boot.size(), 1 + kBootBlockSize + 1);
  EXPECT_EQ(boot[0], 0x68);
  EXPECT_EQ(boot[1 + 0x00], 0xA5);
  EXPECT_EQ(boot[1 + 0x32], 0x02);
  EXPECT_EQ(boot[1 + 0x46], 0x02);
  EXPECT_EQ(boot[1 + 0x4E], 0x80);
  EXPECT_EQ(boot[1 + 0x56], 0x01);
  EXPECT_EQ(boot[1 + 0x67], 0xB7);
  uint8_t check = 0;
  for (std::size_t i = 1; i <= kBootBlockSize; ++i) check ^= boot[i];
  EXPECT_EQ(check, boot.back());
  EXPECT_EQ(boot.back(), 0xFE);

  uint32_t speed = 0;
  ASSERT_EQ(WGetComConfiguration(handle, &speed), 1);
  EXPECT_EQ(speed, 57600u);
  EXPECT_EQ(peer.speed(), 57600u);
  WComClose(handle);
}

TEST(BfbMobileOn, BootRomThatTakesTheBlockButNeverConfirmsFails) {
  PtyPeer peer;
  peer.start([&](PtyPeer& p) {
    Bytes b = p.read(1, 3000);
    if (b.empty() || b[0] != 0x55) return;
    p.write({0xA0});
    p.read(1 + kBootBlockSize + 1, 3000);
    p.write({0x5A, 0x5A, 0x5A});  // anything but 0xA5
  });
  WHandle handle = WComOpen(0, 57600);
  ASSERT_NE(handle, kInvalidWHandle);
  EXPECT_EQ(WMobileOn(handle), 0);
  peer.join();
  EXPECT_EQ(peer.speed(), 57600u);
  WComClose(handle);
}

}  // namespace
}  // namespace dlx
