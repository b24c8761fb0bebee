// The serial port layer over pseudo-terminals: opening, the port records and
// their errors, the resting time-out and the card-type speed table.
#include "doralex/serial/wseril1.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "doralex/doralex.h"
#include "platform/serial_device.h"
#include "platform/serial_line_speed.h"
#include "serial/loader_line.h"

namespace dlx::testing {
namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

constexpr int kPort = 2;

class PortLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.ok());
    table = std::make_unique<SerialTableFile>(
        std::vector<std::pair<int, std::string>>{{kPort, peer.slavePath()}});
  }
  PtyPeer peer;
  std::unique_ptr<SerialTableFile> table;
};

TEST_F(PortLayerTest, SecondOpenIsRefusedAndTheFirstStaysUsable) {
  ASSERT_EQ(ComOpen(kPort, 115200, 0), 1);
  EXPECT_EQ(ComOpen(kPort, 115200, 0), 0);
  EXPECT_EQ(GetErrorNumber(kPort), 2);
  EXPECT_STREQ(GetPortErrorRecord(kPort)->module, "wseril1");
  EXPECT_EQ(ErrorCodes(), std::vector<uint32_t>{0x100});

  EXPECT_EQ(ComWriteByte(kPort, 0x42), 1);
  EXPECT_EQ(peer.receive(1, 1000), Bytes{0x42});
  EXPECT_EQ(ComClose(kPort), 1);
  EXPECT_EQ(ComOpen(kPort, 115200, 0), 1);  // a closed port opens again
}

// Holds the device in a child process until the returned function is called.
std::function<void()> HoldInAnotherProcess(const std::string& path) {
  int toChild[2];
  int fromChild[2];
  if (pipe(toChild) != 0 || pipe(fromChild) != 0) return nullptr;
  pid_t child = fork();
  if (child == 0) {
    auto held = platform::SerialDevice::open(path, nullptr);
    char state = held ? 'y' : 'n';
    (void)!write(fromChild[1], &state, 1);
    (void)!read(toChild[0], &state, 1);
    _exit(0);
  }
  char state = 0;
  if (read(fromChild[0], &state, 1) != 1 || state != 'y') return nullptr;
  return [=] {
    (void)!write(toChild[1], "x", 1);
    waitpid(child, nullptr, 0);
  };
}

TEST_F(PortLayerTest, UnavailableDevicesAreInvalidHandles) {
  struct Case {
    const char* name;
    std::string tableLine;  // replaces the device table; empty keeps the pty
    bool heldElsewhere;
  };
  const Case cases[] = {
      {"port not in the table", "\\Device\\Serial0 COM1 " + peer.slavePath(), false},
      {"device path missing", "\\Device\\Serial2 COM3 /dev/no-such-tty", false},
      {"held by another process", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = ErrorCodes().size();
    std::unique_ptr<SerialTableFile> own;
    if (!c.tableLine.empty()) {
      own = std::make_unique<SerialTableFile>(std::vector<std::pair<int, std::string>>{});
      std::ofstream(own->path()) << c.tableLine << "\n";
    } else {
      setenv("UPDATETOOL_SERIALCOMM", table->path().c_str(), 1);
    }
    std::function<void()> release;
    if (c.heldElsewhere) {
      release = HoldInAnotherProcess(peer.slavePath());
      ASSERT_TRUE(release);
    }
    EXPECT_EQ(ComOpen(kPort, 115200, 0), 0);
    EXPECT_EQ(GetErrorNumber(kPort), 3);
    ASSERT_EQ(ErrorCodes().size(), before + 1);
    EXPECT_EQ(ErrorCodes().back(), 0x109u);
    EXPECT_EQ(ComWriteByte(kPort, 0), 0);  // the record stayed closed
    EXPECT_EQ(ErrorCodes().back(), 0x103u);
    if (release) release();
  }
}

TEST_F(PortLayerTest, OperationsOnAClosedPortAreRefused) {
  uint8_t byte = 0;
  struct Case {
    const char* name;
    std::function<int()> call;
  };
  const Case cases[] = {
      {"ComClose", [] { return ComClose(kPort); }},
      {"ComSetReadTimeout", [] { return ComSetReadTimeout(kPort, 10); }},
      {"ComReadByteTimed", [&] { return ComReadByteTimed(kPort, &byte, 10); }},
      {"ComReadByte", [&] { return ComReadByte(kPort, &byte); }},
      {"ComWriteByte", [] { return ComWriteByte(kPort, 1); }},
      {"ComWriteBlock", [] { const uint8_t b[2] = {1, 2}; return ComWriteBlock(kPort, b, 2); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = ErrorCodes().size();
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(GetErrorNumber(kPort), 1);
    ASSERT_GT(ErrorCodes().size(), before);
    EXPECT_EQ(ErrorCodes().back(), 0x103u);
  }
  EXPECT_TRUE(peer.receive(1, 50).empty());
}

TEST_F(PortLayerTest, PortIndicesOutsideTheTableAreRefusedWithoutTouchingAnything) {
  // Even a table that names COM13 and COM0 does not make those ports usable.
  std::ofstream(table->path()) << "\\Device\\Serial12 COM13 " << peer.slavePath() << "\n"
                               << "\\Device\\SerialX COM0 " << peer.slavePath() << "\n";
  for (int port : {-1, 12, 1000}) {
    SCOPED_TRACE(port);
    EXPECT_EQ(ComOpen(port, 115200, 0), 0);
    EXPECT_EQ(ComWriteByte(port, 1), 0);
    EXPECT_EQ(ComClose(port), 0);
    EXPECT_EQ(ProbeComPort(port, 115200), 0);
    EXPECT_EQ(GetPortErrorRecord(port), nullptr);
  }
  // The pty was never opened: it is free for anyone.
  EXPECT_NE(platform::SerialDevice::open(peer.slavePath(), nullptr), nullptr);
  for (uint32_t code : ErrorCodes()) EXPECT_TRUE(code == 0x109 || code == 0x103) << code;
}

TEST_F(PortLayerTest, TimedReadLeavesTheRestingTimeOut) {
  ASSERT_EQ(ComOpen(kPort, 115200, 0), 1);
  uint8_t byte = 0;
  EXPECT_EQ(ComReadByteTimed(kPort, &byte, 0), 0);

  auto start = Clock::now();
  EXPECT_EQ(ComReadByteTimed(kPort, &byte, 300), 0);
  EXPECT_GE(MsSince(start), 300);

  // Back at 10 ms: a plain read of a silent line ends long before 300 ms.
  start = Clock::now();
  EXPECT_EQ(ComReadByte(kPort, &byte), 0);
  const long resting = MsSince(start);
  EXPECT_GE(resting, 10);
  EXPECT_LT(resting, 250);
  EXPECT_TRUE(ErrorCodes().empty());  // silence is no error in this layer

  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    peer.send({0x77});
  });
  EXPECT_EQ(ComReadByteTimed(kPort, &byte, 1000), 1);
  late.join();
  EXPECT_EQ(byte, 0x77);
}

TEST_F(PortLayerTest, CardTypeDecidesTheFastSpeeds) {
  char name[] = "/tmp/addifast-XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string ini = name;
  struct Case {
    const char* card;  // nullptr: no file at all
    uint32_t requested;
    uint32_t programmed;
  };
  const Case cases[] = {
      {nullptr, 101500, 99609},     {nullptr, 203000, 199219},    {nullptr, 406000, 398438},
      {nullptr, 57600, 57600},      {"aDDiDaTa", 101500, 101500}, {"aDDiDaTa", 203000, 203000},
      {"aDDiDaTa", 406000, 406000}, {"aDDiDaTa", 57600, 57600},   {"FastBoot", 203000, 199219},
      {"SomeCard", 101500, 115200}, {"SomeCard", 203000, 115200}, {"SomeCard", 406000, 115200},
      {"SomeCard", 57600, 57600},   {"SomeCard", 115200, 115200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.card ? c.card : "no file") + " " + std::to_string(c.requested));
    if (c.card) {
      // COM1 names another card: only the section of this port (COM3) counts.
      std::ofstream(ini) << "[Com1]\nComPortType=addidata\n[Com3]\nComPortType=" << c.card << "\n";
      setenv("UPDATETOOL_ADDIFAST", ini.c_str(), 1);
    } else {
      setenv("UPDATETOOL_ADDIFAST", "/tmp/no-such-addifast.ini", 1);
    }
    EXPECT_EQ(ComBaudForCard(kPort, c.requested), c.programmed);
    ASSERT_EQ(ComOpen(kPort, c.requested, 0), 1);
    EXPECT_EQ(platform::GetLineSpeed(peer.slave()), c.programmed);
    ASSERT_EQ(ComClose(kPort), 1);
  }
  unlink(ini.c_str());
}

TEST_F(PortLayerTest, UnknownParityModeIsARefusedLineSetting) {
  EXPECT_EQ(ComOpen(kPort, 115200, 3), 0);
  EXPECT_EQ(GetErrorNumber(kPort), 4);
  EXPECT_EQ(ErrorCodes(), std::vector<uint32_t>{0x102});
  EXPECT_EQ(ComOpen(kPort, 115200, 1), 1);  // closed again and free
}

TEST_F(PortLayerTest, ProbeComPort) {
  // A free port: opened and closed again.
  EXPECT_EQ(ProbeComPort(kPort, 115200), 1);
  EXPECT_NE(platform::SerialDevice::open(peer.slavePath(), nullptr), nullptr);
  EXPECT_TRUE(ErrorCodes().empty());

  // Held by another program: the failed open is followed by a close that
  // only records its own error.
  {
    auto other = platform::SerialDevice::open(peer.slavePath(), nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(ProbeComPort(kPort, 115200), 0);
    EXPECT_EQ(ErrorCodes(), (std::vector<uint32_t>{0x109, 0x103}));
  }

  // Held by the library itself: it stays open and usable.
  ASSERT_EQ(ComOpen(kPort, 115200, 0), 1);
  EXPECT_EQ(ProbeComPort(kPort, 115200), 0);
  EXPECT_EQ(GetErrorNumber(kPort), 2);
  EXPECT_EQ(ErrorCodes(), (std::vector<uint32_t>{0x109, 0x103, 0x100}));
  EXPECT_EQ(ComWriteByte(kPort, 0x33), 1);
  EXPECT_EQ(peer.receive(1, 1000), Bytes{0x33});
}

}  // namespace
}  // namespace dlx::testing
