// Test fixture: a port of the serial layers opened on a pseudo-terminal whose
// master side is played by a phone thread of the test.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "doralex/frame/errors.h"
#include "doralex/serial/wseril1.h"
#include "support/pty_peer.h"

namespace dlx::testing {

using testsupport::Bytes;
using testsupport::PtyPeer;
using testsupport::SerialTableFile;

// A frame as the phone sends it: FF FF FF, L, MI, data, XOR of all before.
inline Bytes PhoneFrame(uint8_t mi, const Bytes& data) {
  Bytes frame = {0xFF, 0xFF, 0xFF, static_cast<uint8_t>(data.size() + 1), mi};
  frame.insert(frame.end(), data.begin(), data.end());
  uint8_t x = 0;
  for (uint8_t b : frame) x ^= b;
  frame.push_back(x);
  return frame;
}

// The same layout for a command frame of the PC.
inline Bytes CommandFrame(uint8_t mi, const Bytes& params) { return PhoneFrame(mi, params); }

// Codes on the error list of a channel, oldest first.
inline std::vector<uint32_t> ErrorCodes(uint16_t channel = 0) {
  const LibraryErrorList& list = GetLibraryErrorList(channel);
  std::vector<uint32_t> codes;
  for (int i = 0; i < list.count; ++i) codes.push_back(list.slots[i].code);
  return codes;
}

class LoaderLineTest : public ::testing::Test {
 protected:
  static constexpr int kPort = 2;  // COM3

  void SetUp() override {
    ASSERT_TRUE(peer.ok());
    table = std::make_unique<SerialTableFile>(
        std::vector<std::pair<int, std::string>>{{kPort, peer.slavePath()}});
    ASSERT_EQ(ComOpen(kPort, 115200, 0), 1);
  }
  void TearDown() override {
    if (phoneThread.joinable()) phoneThread.join();
    ComClose(kPort);
  }

  // Runs the phone's side of the exchange on its own thread.
  void PlayPhone(std::function<void(PtyPeer&)> script) {
    phoneThread = std::thread([this, script = std::move(script)] { script(peer); });
  }
  void WaitForPhone() {
    if (phoneThread.joinable()) phoneThread.join();
  }

  PtyPeer peer;
  std::unique_ptr<SerialTableFile> table;
  std::thread phoneThread;
};

}  // namespace dlx::testing
