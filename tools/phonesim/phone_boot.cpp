// The boot ROM of a phone that is off: it listens at 19200 baud for the
// wake-up byte 0x55 (answer 0xA0), then takes a length byte, that many boot
// block bytes and their XOR (answer 0xA5), and starts the normal software.
#include "frames.h"
#include "phone.h"

namespace phonesim {

namespace {
constexpr uint8_t kWake = 0x55;
constexpr uint8_t kAwake = 0xA0;
constexpr uint8_t kBootTaken = 0xA5;
}  // namespace

void Phone::BootInput(const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length && mode_ == Mode::kOff; ++i) {
    const uint8_t b = data[i];
    switch (boot_state_) {
      case 0:  // asleep: only the wake-up byte counts
        if (b == kWake) {
          SendRaw({kAwake});
          record_.Exchange(Mode::kOff, "boot_rom", "wake-up 0x55", "", "0xA0");
          boot_state_ = 1;
        }
        break;
      case 1:  // the length byte; a repeated wake-up is answered again
        if (b == kWake) {
          SendRaw({kAwake});
          break;
        }
        if (b == 0) {
          record_.Violation(Mode::kOff, "bad_boot_block", "length 0");
          boot_state_ = 0;
          break;
        }
        boot_length_ = b;
        boot_block_.clear();
        boot_state_ = 2;
        break;
      case 2:
        boot_block_.push_back(b);
        if (boot_block_.size() == boot_length_) boot_state_ = 3;
        break;
      case 3: {
        boot_state_ = 0;
        const uint8_t expected = XorOf(boot_block_);
        if (b != expected) {
          record_.Violation(Mode::kOff, "bad_checksum",
                            "boot block XOR " + HexByte(b) + ", expected " + HexByte(expected));
          record_.Exchange(Mode::kOff, "boot_rom", "boot block", Hex(boot_block_), "none");
          break;
        }
        SendRaw({kBootTaken});
        record_.Exchange(Mode::kOff, "boot_rom", "boot block", Hex(boot_block_), "0xA5");
        record_.Note("boot_block", Hex(boot_block_));
        in_.clear();
        EnterMode(Mode::kRebooting, "boot block taken");
        After(s_.boot_ms, [this] { EnterMode(s_.mode_after_boot, "normal software started"); });
        return;
      }
    }
  }
}

}  // namespace phonesim
