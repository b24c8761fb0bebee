#include "test_container.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include <nlohmann/json.hpp>

#include "doralex/doralex.h"
#include "xbi_builder.h"

namespace enginetest {
namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char two[3];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    out += two;
  }
  return out;
}

}  // namespace

LoadedContainer LoadContainer(const ContainerSpec& spec) {
  using nlohmann::json;
  json records = json::array({
      {{"type", 16}, {"value", 100}},
      {{"type", 17}, {"value", 230}},
      {{"type", 18}, {"date", spec.date}, {"time", spec.time}},
      {{"type", 23}, {"text", spec.projectName}},
      {{"type", 29}, {"value", spec.svn}},
      {{"type", 35}, {"value", spec.swSize}},
      {{"type", 40}, {"text", spec.productType}},
      {{"type", 50}, {"value", spec.flashCodeRequest}},
      {{"type", 52}, {"value", spec.projectType}},
      {{"type", 56}, {"value", spec.transferSetup}},
      {{"type", 64}, {"value", spec.fileType}},
  });
  if (spec.bgjAddress) records.push_back({{"type", 37}, {"value", spec.bgjAddress}});
  for (const auto& [start, end] : spec.eraseAreas) {
    records.push_back({{"type", 48}, {"start", start}, {"end", end}});
  }
  if (spec.splitAddress || spec.splitId) {
    records.push_back({{"type", 55}, {"address", spec.splitAddress}, {"id", spec.splitId}});
  }
  if (spec.fileType == 4 || spec.fileType == 5) {
    records.push_back({{"type", 54},
                       {"values", {spec.languageGroup[0], spec.languageGroup[1], spec.languageGroup[2],
                                   spec.languageGroup[3]}}});
  }
  for (const SplitSpec& split : spec.splits) {
    records.push_back({{"type", 83}, {"start", split.start}, {"end", split.end},
                       {"parameter", split.parameter}, {"kind", 0}});
    records.push_back({{"type", 84}, {"name", split.name}});
  }
  if (spec.madeFrom) {
    records.push_back({{"type", 59}, {"date", spec.madeFrom->first}, {"time", spec.madeFrom->second}});
  }
  if (!spec.mapInfo.empty()) {
    records.push_back({{"type", 80}, {"value", spec.mapInfo.size()}});
    records.push_back({{"type", 81}, {"data_hex", Hex(spec.mapInfo)}});
    records.push_back({{"type", 82}});
  }
  if (spec.compressionMode) {
    records.push_back({{"type", 57}, {"value", spec.compressionMode}});
    json values = json::array();
    for (uint32_t v : spec.compression) values.push_back(v);
    records.push_back({{"type", 58}, {"values", values}});
  }
  if (spec.hashArea) records.push_back({{"type", 86}, {"value", "auto"}});

  LoadedContainer loaded;
  loaded.imageAddress = spec.imageAddress;
  for (uint32_t i = 0; i < spec.imageLength; ++i) loaded.image.push_back(static_cast<uint8_t>(i * 7 + 3));

  json heap = json::object();
  json frames = json::array();
  for (const auto& frame : spec.commandFrames) {
    frames.push_back({{"mi", frame[0]},
                      {"params_hex", Hex(std::vector<uint8_t>(frame.begin() + 1, frame.end()))}});
    loaded.commandFramesLength += static_cast<uint32_t>(frame.size()) + 5;
  }
  heap["command_frames"] = frames;
  if (!spec.emptyHeap) heap["image"] = {{"hex", Hex(loaded.image)}, {"address", spec.imageAddress}};
  if (spec.emptyHeap) loaded.image.clear();

  json description = {{"header", {{"records", records}}}, {"heap", heap}};
  if (spec.hashArea) {
    description["hash_area"] = {{"hash_byte1", 0x21}, {"hash_byte2", 0x22}, {"hash_number1", 0x0304},
                                {"hash_number2", 0x0506}, {"list_length", spec.hashListLength}};
  }
  if (!spec.signatures.empty()) {
    json entries = json::array();
    for (const SignatureSpec& s : spec.signatures) entries.push_back({{"key_id", s.keyId}, {"length", s.length}});
    description["signature"] = {{"entries", entries}};
  }

  // Kept for the process: the library works on the bytes in place.
  static std::vector<std::unique_ptr<std::vector<uint8_t>>> keep;
  keep.push_back(std::make_unique<std::vector<uint8_t>>(xbitool::BuildContainer(description).bytes));
  const std::vector<uint8_t>& bytes = *keep.back();
  loaded.heapLength = static_cast<uint32_t>(loaded.image.size() + (loaded.image.size() + 63) / 64 * 5) +
                      loaded.commandFramesLength;

  EXPECT_EQ(dlx::InitLibrary(1, 29), 1);
  dlx::SetUpdateMode(1);
  dlx::ProductInfo info{};
  EXPECT_EQ(dlx::ReadXbiContainer(&info, bytes.data(), static_cast<uint32_t>(bytes.size())), 1)
      << "container refused: 0x" << std::hex << dlx::GetLatestLibraryError(0).code;
  return loaded;
}

}  // namespace enginetest
