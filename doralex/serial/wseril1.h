// Serial port layer of the flash-loader protocol: COM1..COM12 by port index
// 0..11, fixed line settings, timed single-byte reads, block writes.
#pragma once

#include <cstdint>

namespace dlx {

constexpr uint32_t kRestingReadTimeoutMs = 10;

// parity: 0 none, 1 even, 2 odd.
int ComOpen(int port, uint32_t speed, int parity);
int ComClose(int port);
int ComSetReadTimeout(int port, uint32_t timeoutMs);
int ComReadByteTimed(int port, uint8_t* byte, uint32_t timeoutMs);
int ComReadByte(int port, uint8_t* byte);
int ComWriteByte(int port, uint8_t byte);
int ComWriteBlock(int port, const uint8_t* bytes, uint32_t count);
uint32_t ComBaudForCard(int port, uint32_t speed);

// Port indices 0..11 (COM1..COM12); every operation refuses the others.
bool ComPortIndexValid(int port);
// 1 when the open port's device has gone away (cable pulled): its reads and
// writes fail at once from then on. Lets waits that do not count silence as a
// failure (a busy phone) end early.
int ComLineFailed(int port);

}  // namespace dlx
