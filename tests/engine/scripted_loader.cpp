#include "scripted_loader.h"

namespace enginetest {

std::vector<uint8_t> SoftwareVersionAnswer(const std::string& date, const std::string& time,
                                           const std::string& product, uint8_t svn) {
  std::vector<uint8_t> data(33, 0);
  for (size_t i = 0; i < 8 && i < date.size(); ++i) data[i] = static_cast<uint8_t>(date[i]);
  for (size_t i = 0; i < 8 && i < time.size(); ++i) data[8 + i] = static_cast<uint8_t>(time[i]);
  for (size_t i = 0; i < 16 && i < product.size(); ++i) data[16 + i] = static_cast<uint8_t>(product[i]);
  data[32] = svn;
  return data;
}

LoaderPeer::Script ScriptedLoader(LoaderAnswers a, LoaderOverride override) {
  return [a, override](LoaderPeer& peer, const PeerBlock& block) {
    if (override && override(peer, block)) return;
    peer.SendByte(0x06);
    if (!block.isCommand()) return;
    const std::vector<uint8_t> p = block.params();
    switch (block.mi()) {
      case 0x60:
        if (p.empty()) break;
        if (p[0] == 0x01) {
          if (a.initCode == 2) {
            peer.SendFrame(0x61, {2, 0, a.keyId[0], a.keyId[1], a.keyId[2], a.keyId[3]});
          } else {
            peer.SendFrame(0x61, {a.initCode});
          }
        }
        if (p[0] == 0x04) peer.SendFrame(0x61, {a.signatureCode});
        if (p[0] == 0x06) peer.SendFrame(0x61, {a.hashListCode});
        break;
      case 0x32: peer.SendFrame(0x33, {a.flashKnown, a.flashCode[0], a.flashCode[1]}); break;
      case 0x21:
        peer.SendFrame(0x22, {static_cast<uint8_t>(a.flashMbit), static_cast<uint8_t>(a.flashMbit >> 8)});
        break;
      case 0xC2: peer.SendFrame(0xC3, SoftwareVersionAnswer(a.swDate, a.swTime, a.product, a.svn)); break;
      case 0xC8:
        peer.SendFrame(0xC9, {0, 0, 0, 0, static_cast<uint8_t>(a.splitId >> 24),
                              static_cast<uint8_t>(a.splitId >> 16), static_cast<uint8_t>(a.splitId >> 8),
                              static_cast<uint8_t>(a.splitId)});
        peer.SendFrame(0xCA, {0});
        break;
      case 0x53:
        // One block per 64 KiB of address.
        if (p.size() >= 8) {
          const uint32_t first = static_cast<uint32_t>(p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]);
          const uint32_t last = static_cast<uint32_t>(p[4] << 24 | p[5] << 16 | p[6] << 8 | p[7]);
          peer.SendFrame(0x54, {0, static_cast<uint8_t>(first >> 16), static_cast<uint8_t>(last >> 16)});
        }
        break;
      case 0x59:
        peer.SendFrame(0x5A, {4, 1});
        peer.SendFrame(0x5A, {4, 4});
        peer.SendFrame(0x5B, {a.eraseResult});
        break;
      case 0x80: peer.SendFrame(0x81, {a.compressionResult}); break;
      case 0xCE: peer.SendFrame(0xCF, {0}); break;
      case 0xB8: peer.SendFrame(0xB9, {0}); break;
      case 0x04: peer.SendFrame(0x00, {0}); break;
      default: break;
    }
  };
}

}  // namespace enginetest
