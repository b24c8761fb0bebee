#include "fake_phone.h"

#include <chrono>
#include <thread>

namespace bfbtest {

void FakePhone::start() {
  peer_.start([this](PtyPeer&) { run(); });
}

void FakePhone::stopAndJoin() {
  peer_.stop();
  peer_.join();
}

void FakePhone::run() {
  while (!peer_.stopping()) {
    if (script_.atMode) {
      std::vector<uint8_t> bytes = peer_.read(1, 20);
      if (bytes.empty()) continue;
      if (bytes[0] == '\r') {
        atLine(atBuffer_);
        atBuffer_.clear();
      } else {
        atBuffer_.push_back(static_cast<char>(bytes[0]));
      }
      continue;
    }
    std::optional<Frame> f = peer_.readFrame(20);
    if (f) frame(*f);
  }
}

void FakePhone::atLine(const std::string& line) {
  atCommands.push_back(line);
  if (script_.atSpeed && peer_.speed() != *script_.atSpeed) return;  // garbled at this speed
  if (line == "at^sqwe=1") {
    peer_.write({'\r', '\n', 'O', 'K', '\r', '\n'});
    script_.atMode = false;
  }
}

void FakePhone::frame(const Frame& f) {
  frames.push_back(f);
  if (f.data.empty()) return;
  switch (f.type) {
    case 0x02:
      if (script_.answersPing && f.data[0] == 0x14) peer_.writeFrame(0x02, {0x14, 0xAA});
      break;
    case 0x14:
      ees(f);
      break;
    default:
      break;
  }
}

void FakePhone::answerEes(std::vector<uint8_t> answer) {
  uint8_t check = 0;
  for (uint8_t b : answer) check ^= b;
  answer.push_back(check);
  peer_.writeFrame(0x14, answer);
}

void FakePhone::ees(const Frame& f) {
  uint8_t check = 0;
  for (uint8_t b : f.data) check ^= b;
  if (check != 0 || f.data.size() < 2) return;  // broken request: no answer
  std::vector<uint8_t> request(f.data.begin(), f.data.end() - 1);
  eesRequests.push_back(request);
  uint8_t command = request[0];

  auto refusals = script_.eesRefusals.find(command);
  if (refusals != script_.eesRefusals.end() && !refusals->second.empty()) {
    uint8_t code = refusals->second.front();
    refusals->second.pop_front();
    answerEes({code});
    if (code != 0x50) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(script_.busyMs));
  }

  auto u16 = [&](std::size_t at) {
    return static_cast<uint16_t>(request.at(at) | request.at(at + 1) << 8);
  };
  uint16_t block = request.size() >= 3 ? u16(1) : 0;
  switch (command) {
    case 0x11:
      openBlock_ = block;
      pending_ = EesBlock{request.at(5), std::vector<uint8_t>(u16(3), 0xFF)};
      answerEes({0x11});
      break;
    case 0x12: {
      uint16_t offset = u16(3);
      for (std::size_t i = 5; i < request.size(); ++i) pending_.data.at(offset + i - 5) = request[i];
      answerEes({0x12});
      break;
    }
    case 0x13:
      if (block == openBlock_) script_.blocks[block] = pending_;
      answerEes({0x13});
      break;
    case 0x14: {
      const EesBlock& b = script_.blocks.at(block);
      uint16_t offset = u16(3);
      uint16_t length = u16(5);
      std::vector<uint8_t> answer{0x14};
      for (uint16_t i = 0; i < length && offset + i < b.data.size(); ++i) {
        answer.push_back(b.data[offset + i]);
      }
      answerEes(answer);
      break;
    }
    case 0x15: {
      auto it = script_.blocks.find(block);
      if (it == script_.blocks.end()) {
        answerEes({0x32});
        break;
      }
      uint16_t size = script_.reportedSize.value_or(static_cast<uint16_t>(it->second.data.size()));
      answerEes({0x15, static_cast<uint8_t>(size & 0xFF), static_cast<uint8_t>(size >> 8),
                 it->second.mode});
      break;
    }
    default:
      break;
  }
}

}  // namespace bfbtest
