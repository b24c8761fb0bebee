// One operation per flash-loader command: each builds the command's parameters
// (little-endian unless noted), logs its line and sends the frame. Result 1
// when the frame was acknowledged. Answers are awaited by the caller with
// WaitForMessage under the MI and time-out noted here.
#pragma once

#include <cstdint>

namespace dlx {

int SendEndOfTransmission(int port);                                // 0x04 -> MI 0x00, 10000 ms
int RequestFlashSize(int port);                                     // 0x21 -> MI 0x22, 2000 ms
int RequestFlashCode(int port, uint8_t selector);                   // 0x32 -> MI 0x33, 2000 ms
int RequestEraseBlocks(int port, uint32_t first, uint32_t last);    // 0x53 (big-endian) -> 0x54, 1000 ms
int EraseFlashBlock(int port, uint8_t block);                       // 0x55 (n, n) -> MI 0x56, 10000 ms
int EnableFlashWriteBlock(int port, uint16_t block);                // 0x57
int EnableFlashWriteAll(int port);                                  // 0x58
int SendEraseNewConcept(int port);                                  // 0x59 -> 0x5A..., 0x5B, 500000 ms
int SendSignatureCommand(int port, const uint8_t* params, uint8_t count);  // 0x60
int SendCompressionInfo(int port, uint16_t p1, uint8_t p3, uint8_t p4, uint16_t p5, uint16_t p6,
                        uint16_t p7);                               // 0x80 -> MI 0x81, 5000 ms
int SendAdditionalInfoLength(int port, uint16_t total);             // 0x94
int SendAdditionalInfoChunk(int port, const uint8_t* data, uint8_t count);  // 0x95, 1..62 bytes
int SendAdditionalInfoEnd(int port);                                // 0x96
int SendTransferSetup(int port, uint16_t value);                    // 0xA0
int SendNewSplitInfo(int port, uint32_t start, uint32_t end, uint32_t parameter);  // 0xB8 -> 0xB9, 5000 ms
int RequestSoftwareVersion(int port);                               // 0xC2 -> MI 0xC3, 2000 ms
int SendSplitInfo(int port, uint32_t address, uint32_t address4);   // 0xC8 -> 0xC9, 0xCA, 5000 ms each
int SendLanguageGroupInfo(int port, const uint32_t values[4]);      // 0xCE -> MI 0xCF, 5000 ms
int SendBlockTimeOut(int port, uint8_t value);                      // 0xD0
int SendByteTimeOut(int port, uint8_t value);                       // 0xD2
int SendSwitchOff(int port);                                        // 0xF0

}  // namespace dlx
