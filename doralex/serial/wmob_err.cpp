// The phone's error reports (MI 0x18) turned into library errors.
#include "doralex/serial/wmob_err.h"

#include <cstring>

#include "doralex/frame/errors.h"

namespace dlx {

int MapPhoneError(int port, uint8_t /*mi*/, uint8_t length, const uint8_t* data) {
  DLX_SET_ERROR(port, 400, wmob_err);
  // Bytes the frame did not carry read as 0.
  uint8_t b[5] = {};
  if (data) std::memcpy(b, data, length < sizeof b ? length : sizeof b);
  const uint16_t channel = FindChannel(port);
  const int32_t block = b[2];

  switch (b[0]) {
    case 0x11:
      SetAdditionalErrorInfo(port, "Error on RAM-Test with FF ");
      AddLibraryError(channel, 0x400);
      break;
    case 0x12:
      SetAdditionalErrorInfo(port, "Error on RAM-Test with pattern");
      AddLibraryError(channel, 0x401);
      break;
    case 0x13:
      SetAdditionalErrorInfo(port, "Error on RAM-Test with 00");
      AddLibraryError(channel, 0x402);
      break;
    case 0x14:
      SetAdditionalErrorInfo(port, "Unknown Error on RAM-Test");
      AddLibraryError(channel, 0x403);
      break;
    case 0x60:
      switch (b[1]) {
        case 0x01:
          SetAdditionalErrorInfo(port, "Erase-Error Block %d : Vpp voltage range ", block);
          AddLibraryError(channel, 0x404, "d", {block});
          break;
        case 0x02:
          SetAdditionalErrorInfo(port, "Erase-Error Block %d : Error in the command sequence",
                                 block);
          AddLibraryError(channel, 0x405, "d", {block});
          break;
        case 0x03:
          SetAdditionalErrorInfo(port, "Erase-Error Block %d : Erase not possible", block);
          AddLibraryError(channel, 0x406, "d", {block});
          break;
        case 0x10:
          SetAdditionalErrorInfo(port, "Erase-Error Block %d : Block does not exist", block);
          AddLibraryError(channel, 0x407, "d", {block});
          break;
        default:  // an erase sub-code without a text: the port error number alone
          break;
      }
      break;
    case 0x70:
      SetAdditionalErrorInfo(port, "Byte-Program-Error Nr:  %d on adress %02X%02X%02X\n", b[1],
                             b[2], b[3], b[4]);
      AddLibraryError(channel, 0x408, "dxxx",
                      {int32_t{b[1]}, int32_t{b[2]}, int32_t{b[3]}, int32_t{b[4]}});
      break;
    case 0x86:
      SetAdditionalErrorInfo(port, "check-sum-error final test");
      AddLibraryError(channel, 0x409);
      break;
    case 0x87:
      SetAdditionalErrorInfo(port, "unknown flash");
      AddLibraryError(channel, 0x40A);
      break;
    case 0xFF:
      SetAdditionalErrorInfo(port, "uuups, function until now not supported");
      AddLibraryError(channel, 0x40B);
      break;
    default:
      SetAdditionalErrorInfo(port, "unknown Mobile-Error: %02X", b[0]);
      AddLibraryError(channel, 0x40C, "x", {int32_t{b[0]}});
      break;
  }
  return 0;
}

}  // namespace dlx
