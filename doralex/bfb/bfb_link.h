// The BFB link: the phone's service protocol while it runs its normal
// software. Ports are opened here on their own (not through the flash-loader
// serial layer) and addressed by the handle WComOpen returns.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dlx {

using WHandle = int32_t;
constexpr WHandle kInvalidWHandle = -1;

constexpr int kBfbPortSlots = 10;          // port indices 0..9
constexpr uint32_t kInitialTimeoutMs = 250;
constexpr uint8_t kBfbMaxData = 32;        // data bytes of one frame

// Frame types (services).
constexpr uint8_t kFramePing = 0x02;
constexpr uint8_t kFrameInfo = 0x0E;
constexpr uint8_t kFrameEes = 0x14;

// Parity values of WComParity.
constexpr int kParityNone = 0;
constexpr int kParityEven = 2;

// --- Port slots --------------------------------------------------------------
// The handle, or kInvalidWHandle when the port is out of range, its slot is in
// use or the device cannot be opened and set up.
WHandle WComOpen(int port, uint32_t speed);
int WComClose(WHandle handle);
int WComConfigure(WHandle handle, uint32_t speed);
int WComParity(WHandle handle, int parity);
int WGetComConfiguration(WHandle handle, uint32_t* speed);
int WComSetTimeOut(WHandle handle, uint32_t timeoutMs);
int WComGetTimeOut(WHandle handle, uint32_t* timeoutMs);

// --- Line control (used by the mode switch and the wake-up) ------------------
int WComSetDtr(WHandle handle, bool on);
int WComPurge(WHandle handle);
int WComClearErrors(WHandle handle);

// --- Bytes -------------------------------------------------------------------
int WComPut(WHandle handle, uint8_t byte);
int WComGet(WHandle handle, uint8_t* byte);
int WComGetWithTimeOut(WHandle handle, uint8_t* byte, uint32_t timeoutMs);
int WComWriteRaw(WHandle handle, const uint8_t* bytes, std::size_t count);  // count <= 255
// Reads characters until capacity - 1 have arrived or the line falls silent,
// and terminates the text. 1 only when something arrived and silence ended it.
int WComReadAnswer(WHandle handle, std::size_t capacity, char* text);

// --- Frames ------------------------------------------------------------------
int WComWrite(WHandle handle, uint8_t type, uint8_t length, const uint8_t* data);
// data must hold kBfbMaxData bytes.
int WComRead(WHandle handle, uint8_t* type, uint8_t* length, uint8_t* data);
// 0 as wanted type or wanted first byte matches anything.
int WComReceive(WHandle handle, uint8_t wantedType, uint8_t wantedFirst, uint8_t* type,
                uint8_t* length, uint8_t* data);

// --- Exchanges with the phone ------------------------------------------------
int WSetBfbMode(WHandle handle);
int WMobileOn(WHandle handle);
int WPingMobile(WHandle handle);
int WMobileOff(WHandle handle);

}  // namespace dlx
