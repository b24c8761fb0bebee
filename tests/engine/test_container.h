// Small update containers for the engine's tests, written with the container
// builder and read by the library (started in update mode 1).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace enginetest {

struct SplitSpec {
  uint32_t start;
  uint32_t end;
  uint32_t parameter;
  std::string name;
};

struct SignatureSpec {
  uint32_t keyId;
  uint32_t length;
};

struct ContainerSpec {
  uint32_t fileType = 0;
  std::string projectName = "kq10";
  std::string productType = "R10";
  uint16_t svn = 0x52;
  std::string date = "15.03.02";
  std::string time = "10:00:00";
  uint32_t swSize = 0x100000;
  uint32_t projectType = 3;
  uint32_t bgjAddress = 0;
  uint32_t flashCodeRequest = 1;
  uint32_t transferSetup = 0x0102;
  std::vector<std::pair<uint32_t, uint32_t>> eraseAreas;
  std::vector<SplitSpec> splits;
  uint32_t splitAddress = 0;
  uint32_t splitId = 0;
  std::array<uint32_t, 4> languageGroup{0, 0, 0, 0};
  std::optional<std::pair<std::string, std::string>> madeFrom;  // date/time pair 59
  std::vector<uint8_t> mapInfo;  // map information sent before the negotiation
  // Compression mode 3 sends p1, p3..p7 of these (p1..p7) to the phone.
  uint32_t compressionMode = 0;
  std::array<uint32_t, 7> compression{0, 0, 0, 0, 0, 0, 0};
  bool hashArea = false;
  uint32_t hashListLength = 100;
  std::vector<SignatureSpec> signatures;
  // Command frames at the head of the heap (MI and parameters).
  std::vector<std::vector<uint8_t>> commandFrames;
  uint32_t imageAddress = 0x010000;
  uint32_t imageLength = 640;
  bool emptyHeap = false;
};

struct LoadedContainer {
  std::vector<uint8_t> image;  // the software image the data blocks carry
  uint32_t imageAddress = 0;
  uint32_t heapLength = 0;     // heap data bytes, command frames included
  uint32_t commandFramesLength = 0;
};

// Starts the library, builds and reads the container; the bytes stay alive
// until the process ends. Fails the calling test when the read is refused.
LoadedContainer LoadContainer(const ContainerSpec& spec);

}  // namespace enginetest
