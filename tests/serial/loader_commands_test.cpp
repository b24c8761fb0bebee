// Every flash-loader command's bytes on the line, in the loader's byte order.
#include "doralex/serial/loader_commands.h"

#include "doralex/serial/wseril2.h"
#include "serial/loader_line.h"

namespace dlx::testing {
namespace {

class LoaderCommandsTest : public LoaderLineTest {};

TEST_F(LoaderCommandsTest, EachCommandIsOneAcknowledgedFrame) {
  const uint32_t languageGroup[4] = {0x11223344, 0x55667788, 0x01, 0xA0B0C0D0};
  const uint8_t signature[3] = {0x02, 0x00, 0x7F};
  const uint8_t chunk[2] = {0xAB, 0xCD};
  struct Case {
    const char* name;
    std::function<int()> send;
    Bytes frame;
  };
  const Case cases[] = {
      {"end of transmission", [] { return SendEndOfTransmission(kPort); }, CommandFrame(0x04, {})},
      {"flash size", [] { return RequestFlashSize(kPort); },
       {0xFF, 0xFF, 0xFF, 0x01, 0x21, 0xDF}},
      {"flash code", [] { return RequestFlashCode(kPort, 0x03); }, CommandFrame(0x32, {0x03})},
      {"erase blocks, big-endian", [] { return RequestEraseBlocks(kPort, 0x00120000, 0x0013FFFF); },
       CommandFrame(0x53, {0x00, 0x12, 0x00, 0x00, 0x00, 0x13, 0xFF, 0xFF})},
      {"erase one block", [] { return EraseFlashBlock(kPort, 7); }, CommandFrame(0x55, {7, 7})},
      {"enable write for a block", [] { return EnableFlashWriteBlock(kPort, 0x0102); },
       CommandFrame(0x57, {0x02, 0x01})},
      {"enable write for all", [] { return EnableFlashWriteAll(kPort); }, CommandFrame(0x58, {})},
      {"erase with new concept", [] { return SendEraseNewConcept(kPort); }, CommandFrame(0x59, {})},
      {"signature command", [&] { return SendSignatureCommand(kPort, signature, 3); },
       CommandFrame(0x60, {0x02, 0x00, 0x7F})},
      {"compression info",
       [] { return SendCompressionInfo(kPort, 0x0102, 0x03, 0x04, 0x0506, 0x0708, 0x090A); },
       CommandFrame(0x80, {0x02, 0x01, 0x03, 0x04, 0x06, 0x05, 0x08, 0x07, 0x0A, 0x09})},
      {"additional info length", [] { return SendAdditionalInfoLength(kPort, 0x0082); },
       CommandFrame(0x94, {0x82, 0x00})},
      {"additional info chunk", [&] { return SendAdditionalInfoChunk(kPort, chunk, 2); },
       CommandFrame(0x95, {0xAB, 0xCD})},
      {"additional info end", [] { return SendAdditionalInfoEnd(kPort); }, CommandFrame(0x96, {})},
      {"transfer setup", [] { return SendTransferSetup(kPort, 0xBEEF); },
       CommandFrame(0xA0, {0xEF, 0xBE})},
      {"new split info", [] { return SendNewSplitInfo(kPort, 0x01020304, 0x05060708, 0x0A0B0C0D); },
       CommandFrame(0xB8, {4, 3, 2, 1, 8, 7, 6, 5, 0x0D, 0x0C, 0x0B, 0x0A})},
      {"software version", [] { return RequestSoftwareVersion(kPort); }, CommandFrame(0xC2, {})},
      {"split info", [] { return SendSplitInfo(kPort, 0x00200000, 0x00200004); },
       CommandFrame(0xC8, {0x00, 0x00, 0x20, 0x00, 0x04, 0x00, 0x20, 0x00})},
      {"language group", [&] { return SendLanguageGroupInfo(kPort, languageGroup); },
       CommandFrame(0xCE, {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0x01, 0, 0, 0, 0xD0,
                           0xC0, 0xB0, 0xA0})},
      {"block time-out", [] { return SendBlockTimeOut(kPort, 200); },
       {0xFF, 0xFF, 0xFF, 0x02, 0xD0, 0xC8, 0xE5}},
      {"byte time-out", [] { return SendByteTimeOut(kPort, 0x10); }, CommandFrame(0xD2, {0x10})},
      {"switch off", [] { return SendSwitchOff(kPort); }, CommandFrame(0xF0, {})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes received;
    PlayPhone([&](PtyPeer& phone) {
      received = phone.receive(c.frame.size(), 2000);
      phone.send({kAck});
    });
    EXPECT_EQ(c.send(), 1);
    WaitForPhone();
    EXPECT_EQ(received, c.frame);
    EXPECT_TRUE(peer.receive(1, 20).empty());  // nothing more than the frame
  }
  EXPECT_TRUE(ErrorCodes().empty());
}

}  // namespace
}  // namespace dlx::testing
