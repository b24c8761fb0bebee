// A scripted loader for the signature exchange: every block is acknowledged,
// and the negotiation commands (MI 0x60) are answered with the codes the test
// chooses.
#pragma once

#include <array>
#include <cstdint>

#include "loader_peer.h"

namespace enginetest {

struct LoaderAnswers {
  uint8_t initCode = 1;                                  // answer to init
  std::array<uint8_t, 4> keyId{0x01, 0x02, 0x03, 0x04};  // key named with code 2
  uint8_t signatureCode = 4;                             // answer after the last signature frame
  uint8_t hashListCode = 6;                              // answer after the last hash-list frame
};

LoaderPeer::Script ScriptedLoader(LoaderAnswers answers);

}  // namespace enginetest
