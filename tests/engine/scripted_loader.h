// A cooperative flash loader for the scripted peer: every command is
// acknowledged and answered the way a healthy phone would, with the values
// the test chooses; a test replaces single answers with an override.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "loader_peer.h"

namespace enginetest {

struct LoaderAnswers {
  // Signature negotiation: the answer to init, the key it names, the answers
  // after the signature and after the hash list.
  uint8_t initCode = 1;
  std::array<uint8_t, 4> keyId{0x01, 0x02, 0x03, 0x04};
  uint8_t signatureCode = 4;
  uint8_t hashListCode = 6;
  // Flash code answer: byte 0 and the code bytes 1..2.
  uint8_t flashKnown = 1;
  std::array<uint8_t, 2> flashCode{0x89, 0x00};
  uint16_t flashMbit = 16;
  // Software version answer.
  std::string swDate = "14.03.02";
  std::string swTime = "09:15:30";
  std::string product = "R10";
  uint8_t svn = 0x50;
  uint32_t splitId = 0x11223344;
  uint8_t eraseResult = 0x01;  // 0x5B byte 0; 0xAA: not erased by the phone
  uint8_t compressionResult = 1;
};

// Returns true when it has answered the block itself.
using LoaderOverride = std::function<bool(LoaderPeer& peer, const PeerBlock& block)>;

LoaderPeer::Script ScriptedLoader(LoaderAnswers answers, LoaderOverride override = {});

// The phone's software-version answer (0xC3) for the given values.
std::vector<uint8_t> SoftwareVersionAnswer(const std::string& date, const std::string& time,
                                           const std::string& product, uint8_t svn);

}  // namespace enginetest
