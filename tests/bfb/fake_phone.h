// A phone in its normal software as the link and EEPROM tests need it: AT
// mode until it is switched to BFB, pings and EEPROM blocks, with refusals
// and a reported block size on request. It answers from the phone's side of
// the exchanges and records what it received; read the records after
// stopAndJoin(). (The session tests run against the simulated phone.)
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pty_peer.h"

namespace bfbtest {

struct EesBlock {
  uint8_t mode = 0;
  std::vector<uint8_t> data;
};

struct PhoneScript {
  bool atMode = false;                 // starts in AT command mode
  std::optional<uint32_t> atSpeed;     // answers AT commands only at this line speed
  bool answersPing = true;
  std::map<uint16_t, EesBlock> blocks;
  // Answer codes given to an EEPROM command before it is accepted, in order.
  // 0x50 to an open is followed by the acceptance after `busyMs`.
  std::map<uint8_t, std::deque<uint8_t>> eesRefusals;
  int busyMs = 300;
  // A block information answer that reports this size instead of the real one.
  std::optional<uint16_t> reportedSize;
};

class FakePhone {
 public:
  FakePhone(PtyPeer& peer, PhoneScript script) : peer_(peer), script_(std::move(script)) {}
  void start();
  void stopAndJoin();

  // What arrived, for checks after stopAndJoin().
  std::vector<Frame> frames;           // every well-formed frame
  std::vector<std::string> atCommands;  // AT lines without their '\r'
  std::vector<std::vector<uint8_t>> eesRequests;  // request bytes without the check byte
  std::map<uint16_t, EesBlock>& blocks() { return script_.blocks; }

 private:
  void run();
  void atLine(const std::string& line);
  void frame(const Frame& f);
  void ees(const Frame& f);
  void answerEes(std::vector<uint8_t> answer);

  PtyPeer& peer_;
  PhoneScript script_;
  std::string atBuffer_;
  uint16_t openBlock_ = 0;
  EesBlock pending_;
};

}  // namespace bfbtest
