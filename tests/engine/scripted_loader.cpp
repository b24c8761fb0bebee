#include "scripted_loader.h"

namespace enginetest {

LoaderPeer::Script ScriptedLoader(LoaderAnswers a) {
  return [a](LoaderPeer& peer, const PeerBlock& block) {
    peer.SendByte(0x06);
    if (block.mi() != 0x60) return;
    const std::vector<uint8_t> p = block.params();
    if (p.empty()) return;
    switch (p[0]) {
      case 0x01:
        if (a.initCode == 2) {
          peer.SendFrame(0x61, {2, 0, a.keyId[0], a.keyId[1], a.keyId[2], a.keyId[3]});
        } else {
          peer.SendFrame(0x61, {a.initCode});
        }
        break;
      case 0x04: peer.SendFrame(0x61, {a.signatureCode}); break;
      case 0x06: peer.SendFrame(0x61, {a.hashListCode}); break;
      default: break;
    }
  };
}

}  // namespace enginetest
