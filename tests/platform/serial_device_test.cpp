// The serial device over pseudo-terminals: exclusive opening, raw line
// settings, any speed, total read time-outs, and a device that vanishes.
#include "platform/serial_device.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/serial_line_speed.h"
#include "support/pty_peer.h"

namespace platform {
namespace {

using testsupport::Bytes;
using testsupport::PtyPeer;
using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class SerialDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(peer.ok()); }
  std::unique_ptr<SerialDevice> openPeer() {
    OpenError error = OpenError::Failed;
    auto device = SerialDevice::open(peer.slavePath(), &error);
    EXPECT_EQ(error, OpenError::None);
    return device;
  }
  PtyPeer peer;
};

TEST(SerialDeviceOpen, MissingPathIsNotFound) {
  OpenError error = OpenError::None;
  EXPECT_EQ(SerialDevice::open("/dev/no-such-serial-device", &error), nullptr);
  EXPECT_EQ(error, OpenError::NotFound);
}

TEST(SerialDeviceOpen, NonTerminalIsRefused) {
  OpenError error = OpenError::None;
  EXPECT_EQ(SerialDevice::open("/dev/null", &error), nullptr);
  EXPECT_EQ(error, OpenError::Failed);
}

TEST_F(SerialDeviceTest, SecondOpenInThisProcessIsBusyUntilTheFirstCloses) {
  auto first = openPeer();
  ASSERT_NE(first, nullptr);
  OpenError error = OpenError::None;
  EXPECT_EQ(SerialDevice::open(peer.slavePath(), &error), nullptr);
  EXPECT_EQ(error, OpenError::Busy);
  first.reset();
  EXPECT_NE(openPeer(), nullptr);
}

TEST_F(SerialDeviceTest, DeviceHeldByAnotherProcessIsBusy) {
  int toChild[2];
  int fromChild[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(fromChild), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto held = SerialDevice::open(peer.slavePath(), nullptr);
    char state = held ? 'y' : 'n';
    (void)!write(fromChild[1], &state, 1);
    (void)!read(toChild[0], &state, 1);  // hold the device until told to let go
    _exit(0);
  }
  char state = 0;
  ASSERT_EQ(read(fromChild[0], &state, 1), 1);
  ASSERT_EQ(state, 'y');
  OpenError error = OpenError::None;
  EXPECT_EQ(SerialDevice::open(peer.slavePath(), &error), nullptr);
  EXPECT_EQ(error, OpenError::Busy);
  (void)!write(toChild[1], "x", 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_NE(openPeer(), nullptr);  // released with the other process
}

TEST_F(SerialDeviceTest, OpensRawEightBitsWithoutFlowControl) {
  auto device = openPeer();
  ASSERT_NE(device, nullptr);
  termios settings{};
  ASSERT_EQ(tcgetattr(peer.slave(), &settings), 0);
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(settings.c_cflag & (CSTOPB | CRTSCTS | PARENB));
  EXPECT_FALSE(settings.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP | INPCK));
  EXPECT_FALSE(settings.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(settings.c_oflag & OPOST);
  EXPECT_EQ(device->speed(), 9600u);
}

TEST_F(SerialDeviceTest, AnySpeedIsProgrammed) {
  auto device = openPeer();
  ASSERT_NE(device, nullptr);
  for (uint32_t speed : {57600u, 99609u, 101500u, 115200u, 199219u, 203000u, 398438u, 406000u}) {
    SCOPED_TRACE(speed);
    ASSERT_TRUE(device->configure(speed, Parity::None, false));
    EXPECT_EQ(GetLineSpeed(peer.slave()), speed);
    EXPECT_EQ(device->speed(), speed);
  }
  EXPECT_FALSE(device->configure(0, Parity::None, false));  // 0 would hang the line up
  EXPECT_TRUE(device->configure(115200, Parity::Even, true));
  EXPECT_EQ(device->parity(), Parity::Even);
}

TEST_F(SerialDeviceTest, ModemLinesAreToleratedOnAPty) {
  auto device = openPeer();
  ASSERT_NE(device, nullptr);
  EXPECT_TRUE(device->setRts(true));
  EXPECT_TRUE(device->setDtr(false));
}

TEST_F(SerialDeviceTest, BytesPassBothWaysUnchanged) {
  auto device = openPeer();
  ASSERT_NE(device, nullptr);
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
  ASSERT_TRUE(device->write(all.data(), all.size()));
  EXPECT_EQ(peer.receive(all.size(), 1000), all);

  ASSERT_TRUE(peer.send(all));
  Bytes got(all.size());
  ReadResult result = device->read(got.data(), got.size(), 1000);
  EXPECT_FALSE(result.failed);
  ASSERT_EQ(result.count, all.size());
  EXPECT_EQ(got, all);
}

TEST_F(SerialDeviceTest, ReadTimeOutIsTotalAndReturnsWhatArrived) {
  auto device = openPeer();
  ASSERT_NE(device, nullptr);
  uint8_t buffer[4] = {};

  auto start = Clock::now();
  ReadResult silent = device->read(buffer, 1, 40);
  EXPECT_EQ(silent.count, 0u);
  EXPECT_FALSE(silent.failed);
  EXPECT_GE(msSince(start), 40);

  ASSERT_TRUE(peer.send({0x11, 0x22}));
  ReadResult partial = device->read(buffer, 4, 40);
  EXPECT_EQ(partial.count, 2u);
  EXPECT_FALSE(partial.failed);

  // Bytes that trickle in are collected until the request is complete.
  std::thread trickle([&] {
    for (uint8_t b : {0x01, 0x02, 0x03}) {
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
      peer.send({b});
    }
  });
  ReadResult whole = device->read(buffer, 3, 2000);
  trickle.join();
  EXPECT_EQ(whole.count, 3u);
  EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0x01, 0x02, 0x03}));

  ASSERT_TRUE(peer.send({0x5A}));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(device->read(buffer, 1, 0).count, 1u);  // a time-out of 0 takes what is there
  EXPECT_EQ(device->read(buffer, 1, 0).count, 0u);
}

TEST_F(SerialDeviceTest, BytesWaitingAndPurge) {
  auto device = openPeer();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(peer.send({1, 2, 3}));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(device->bytesWaiting(), 3);
  EXPECT_TRUE(device->purge());
  EXPECT_EQ(device->bytesWaiting(), 0);
  EXPECT_TRUE(device->clearErrors());
}

TEST_F(SerialDeviceTest, VanishedDeviceFailsAtOnce) {
  auto device = openPeer();
  ASSERT_NE(device, nullptr);
  std::thread pull([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    peer.hangUp();
  });
  uint8_t buffer[8];
  auto start = Clock::now();
  ReadResult pending = device->read(buffer, sizeof buffer, 10000);
  pull.join();
  EXPECT_TRUE(pending.failed);
  EXPECT_LT(msSince(start), 5000);  // not the 10 s time-out

  start = Clock::now();
  EXPECT_TRUE(device->read(buffer, 1, 10000).failed);
  EXPECT_LT(msSince(start), 5000);
  EXPECT_FALSE(device->write(buffer, 1));
  EXPECT_EQ(device->bytesWaiting(), -1);
  EXPECT_FALSE(device->clearErrors());
}

}  // namespace
}  // namespace platform
