#include "xbi_builder.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>

namespace xbitool {
namespace {

using Bytes = std::vector<uint8_t>;
using nlohmann::json;

const std::string kSoftwareMagic = "Quorvex Mobile Phones Software";
const std::string kSignatureMagic = "Quorvex Mobile Phones Signature File";
const std::string kHashMagic = "EXT_SIGNATURE_HASH_AREA";

[[noreturn]] void fail(const std::string& what) { throw DescriptionError(what); }

// Numbers may be JSON integers or texts such as "0x7FFE0".
uint64_t number(const json& value, const std::string& name) {
  if (value.is_number_unsigned()) return value.get<uint64_t>();
  if (value.is_number_integer()) {
    if (value.get<int64_t>() < 0) fail(name + ": negative number");
    return static_cast<uint64_t>(value.get<int64_t>());
  }
  if (value.is_string()) {
    const std::string text = value.get<std::string>();
    try {
      std::size_t used = 0;
      uint64_t n = std::stoull(text, &used, 0);
      if (used == text.size()) return n;
    } catch (const std::exception&) {
    }
  }
  fail(name + ": not a number: " + value.dump());
}

uint64_t field(const json& object, const std::string& name, uint64_t maximum) {
  if (!object.contains(name)) fail("missing field \"" + name + "\" in " + object.dump());
  uint64_t n = number(object.at(name), name);
  if (n > maximum) fail(name + ": " + std::to_string(n) + " is too large");
  return n;
}

uint64_t optionalField(const json& object, const std::string& name, uint64_t fallback,
                       uint64_t maximum) {
  return object.contains(name) ? field(object, name, maximum) : fallback;
}

Bytes hex(const json& value, const std::string& name) {
  if (!value.is_string()) fail(name + ": hex text expected");
  std::string digits;
  for (char c : value.get<std::string>()) {
    if (c == ' ' || c == ':' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) fail(name + ": not hex: " + value.dump());
    digits += c;
  }
  if (digits.size() % 2) fail(name + ": odd number of hex digits");
  Bytes out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
void putBe(Bytes& out, uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void putLe(Bytes& out, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint8_t xorOf(const Bytes& bytes, std::size_t from = 0) {
  uint8_t sum = 0;
  for (std::size_t i = from; i < bytes.size(); ++i) sum ^= bytes[i];
  return sum;
}

// A repeatable filler for generated signatures, lists and images.
Bytes pattern(uint64_t length, uint8_t seed) {
  Bytes out(length);
  uint32_t x = 0x9E3779B9u ^ seed;
  for (auto& b : out) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

// Payload bytes given as "data_hex" or generated as "length" bytes.
Bytes payload(const json& object, const std::string& hexName, const std::string& lengthName,
              uint8_t seed) {
  if (object.contains(hexName)) return hex(object.at(hexName), hexName);
  if (object.contains(lengthName)) return pattern(field(object, lengthName, 1u << 30), seed);
  return {};
}

// --- scrambling --------------------------------------------------------------

enum class Rule { none, pass, full };

Rule ruleOf(uint64_t type) {
  static const std::map<uint64_t, Rule> rules = {
      {18, Rule::pass}, {19, Rule::pass}, {22, Rule::pass}, {23, Rule::pass}, {26, Rule::pass},
      {32, Rule::pass}, {40, Rule::pass}, {41, Rule::pass}, {42, Rule::pass}, {45, Rule::full},
      {46, Rule::full}, {59, Rule::full}, {60, Rule::full}, {61, Rule::full}, {62, Rule::full},
      {84, Rule::full}};
  auto it = rules.find(type);
  return it == rules.end() ? Rule::none : it->second;
}

// XOR with the software magic and its zero byte, the key read backwards and
// restarting at the zero byte every 31 bytes; scrambling and descrambling
// are the same operation.
void scramble(Bytes& data, std::size_t count) {
  std::string key = kSoftwareMagic;
  key.push_back('\0');
  for (std::size_t i = 0; i < count && i < data.size(); ++i) {
    data[i] ^= static_cast<uint8_t>(key[key.size() - 1 - i % key.size()]);
  }
}

// --- header records ------------------------------------------------------------

std::string stringField(const json& record, const std::string& name) {
  if (!record.contains(name) || !record.at(name).is_string()) fail("missing text \"" + name + "\"");
  return record.at(name).get<std::string>();
}

Bytes dateTime(const json& record) {
  std::string date = stringField(record, "date");
  std::string time = stringField(record, "time");
  std::string separator = record.value("separator", std::string(" "));
  if (date.size() != 8 || time.size() != 8 || separator.size() != 1) {
    fail("date and time take 8 characters each: " + record.dump());
  }
  return text(date + separator + time);
}

// hash_area_length = d0 + 256 d1 + 2^20 d2 + 2^28 (d3 mod 16)
Bytes hashLengthBytes(uint64_t value) {
  if (value > 0xFFFFFFFFu || (value & 0x000F0000u)) {
    fail("hash area length " + std::to_string(value) + " has no record-86 encoding");
  }
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 20), static_cast<uint8_t>(value >> 28)};
}

// The plain data of a record from its typed fields.
Bytes typedData(const json& record, uint64_t type, uint64_t hashAreaLength) {
  Bytes d;
  auto value = [&](int width) {
    putBe(d, field(record, "value", width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1), width);
  };
  switch (type) {
    case 16: case 17: {
      uint64_t v = field(record, "value", 25599);
      d = {static_cast<uint8_t>(v / 100), static_cast<uint8_t>(v % 100)};
      break;
    }
    case 18: case 19: case 59: case 60: d = dateTime(record); break;
    case 20:
    case 54:
    case 58: {
      const json& values = record.at("values");
      static const std::map<uint64_t, std::vector<int>> widths = {
          {20, {2, 2, 2, 2}}, {54, {4, 4, 4, 4}}, {58, {2, 2, 1, 1, 2, 2, 2}}};
      const auto& w = widths.at(type);
      if (!values.is_array() || values.size() != w.size()) {
        fail("record " + std::to_string(type) + " takes " + std::to_string(w.size()) + " values");
      }
      for (std::size_t i = 0; i < w.size(); ++i) putBe(d, number(values[i], "values"), w[i]);
      break;
    }
    case 22: case 23: case 26: case 40: case 41: case 42: case 61: case 62:
      d = text(stringField(record, "text"));
      break;
    case 27: case 34: case 35: case 37: case 39: value(4); break;
    case 29: case 36: case 51: case 56: case 80: value(2); break;
    case 49: case 50: case 52: case 53: case 57: case 64: value(1); break;
    case 48:
      putBe(d, field(record, "start", 0xFFFFFFFFu), 4);
      putBe(d, field(record, "end", 0xFFFFFFFFu), 4);
      break;
    case 55:
      putBe(d, field(record, "address", 0xFFFFFFFFu), 4);
      putBe(d, field(record, "id", 0xFFFFFFFFu), 4);
      break;
    case 83:
      putBe(d, field(record, "start", 0xFFFFFFFFu), 4);
      putBe(d, field(record, "end", 0xFFFFFFFFu), 4);
      putBe(d, field(record, "parameter", 0xFFFFFFFFu), 4);
      putBe(d, optionalField(record, "number", 0, 0xFFFF), 2);
      putBe(d, field(record, "kind", 0xFFFF), 2);
      break;
    case 84: {
      d = text(stringField(record, "name"));
      if (d.size() > 20) fail("split name longer than 20 characters");
      d.resize(20, 0);
      break;
    }
    case 86:
      if (record.contains("bytes")) {
        for (const json& b : record.at("bytes")) d.push_back(static_cast<uint8_t>(number(b, "bytes")));
      } else if (record.contains("value") && record.at("value") != "auto") {
        d = hashLengthBytes(field(record, "value", 0xFFFFFFFFu));
      } else {
        d = hashLengthBytes(hashAreaLength);
      }
      break;
    case 112:
      d.push_back(static_cast<uint8_t>(field(record, "byte", 0xFF)));
      append(d, text(stringField(record, "text")));
      break;
    default:
      break;  // 4, 21, 33, 82 and unknown types: no data unless given as hex
  }
  return d;
}

Bytes headerRecord(const json& record, uint16_t scrambleVersion, uint64_t hashAreaLength) {
  uint64_t type = field(record, "type", 0xFF);
  Bytes data;
  if (record.contains("stored_hex")) {
    data = hex(record.at("stored_hex"), "stored_hex");
  } else {
    data = record.contains("data_hex") ? hex(record.at("data_hex"), "data_hex")
                                       : typedData(record, type, hashAreaLength);
    Rule rule = ruleOf(type);
    if (rule == Rule::full || (rule == Rule::pass && scrambleVersion >= 95)) {
      scramble(data, data.size());
    } else if (rule == Rule::pass) {
      scramble(data, (data.size() + 1) / 2);
    }
  }
  if (data.size() > 255 - 1) fail("record data too long");
  Bytes out = record.contains("sync_hex") ? hex(record.at("sync_hex"), "sync_hex")
                                          : Bytes{0xFF, 0xFF, 0xFE};
  out.push_back(static_cast<uint8_t>(optionalField(record, "length", data.size() + 1, 0xFF)));
  out.push_back(static_cast<uint8_t>(type));
  append(out, data);
  out.push_back(static_cast<uint8_t>(optionalField(record, "checksum", xorOf(out), 0xFF)));
  return out;
}

// The header version the texts are scrambled for: the description's
// choice, else the value of the last type-16 record, else 0.
uint16_t scrambleVersionOf(const json& header) {
  if (header.contains("scramble_version")) {
    return static_cast<uint16_t>(field(header, "scramble_version", 0xFFFF));
  }
  uint16_t version = 0;
  for (const json& record : header.value("records", json::array())) {
    if (record.value("type", 0) == 16 && record.contains("value") && !record.contains("data_hex")) {
      version = static_cast<uint16_t>(field(record, "value", 25599));
    }
  }
  return version;
}

// --- sections ------------------------------------------------------------------

Bytes signatureSection(const json& sig) {
  Bytes out = text(sig.value("magic", kSignatureMagic));
  if (sig.value("zero_byte", true)) out.push_back(0);
  uint8_t seed = 1;
  for (const json& entry : sig.value("entries", json::array())) {
    Bytes signature = payload(entry, "data_hex", "length", seed++);
    putBe(out, field(entry, "key_id", 0xFFFFFFFFu), 4);
    putLe(out, optionalField(entry, "length_field", signature.size(), 0xFFFF), 2);
    append(out, signature);
  }
  if (sig.value("end_mark", true)) putBe(out, 0, 4);
  if (sig.contains("extra_hex")) append(out, hex(sig.at("extra_hex"), "extra_hex"));
  return out;
}

Bytes hashArea(const json& area) {
  Bytes out = text(area.value("magic", kHashMagic));
  out.push_back(0);
  out.push_back(static_cast<uint8_t>(optionalField(area, "hash_byte1", 0, 0xFF)));
  out.push_back(static_cast<uint8_t>(optionalField(area, "hash_byte2", 0, 0xFF)));
  putLe(out, optionalField(area, "hash_number1", 0, 0xFFFF), 2);
  putLe(out, optionalField(area, "hash_number2", 0, 0xFFFF), 2);
  append(out, payload(area, "list_hex", "list_length", 0x55));
  return out;
}

Bytes block(uint64_t address, const Bytes& data, const json* overrides) {
  Bytes out;
  putBe(out, address, 3);
  out.push_back(static_cast<uint8_t>(data.size()));
  append(out, data);
  uint8_t sum = xorOf(out);
  if (overrides) sum = static_cast<uint8_t>(optionalField(*overrides, "checksum", sum, 0xFF));
  out.push_back(sum);
  return out;
}

Bytes imageBytes(const json& image, const std::filesystem::path& baseDir) {
  if (image.contains("file")) {
    std::filesystem::path path = image.at("file").get<std::string>();
    if (path.is_relative()) path = baseDir / path;
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read image " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  return payload(image, "hex", "pattern_length", 0xA7);
}

void appendHeap(BuiltContainer& built, const json& heap, const std::filesystem::path& baseDir) {
  Bytes& out = built.bytes;
  auto add = [&](const Bytes& b) {
    built.blockOffsets.push_back(static_cast<uint32_t>(out.size()));
    append(out, b);
  };
  for (const json& frame : heap.value("command_frames", json::array())) {
    Bytes data{static_cast<uint8_t>(field(frame, "mi", 0xFF))};
    if (frame.contains("params_hex")) append(data, hex(frame.at("params_hex"), "params_hex"));
    add(block(0xFFFFFF, data, &frame));
  }
  if (heap.contains("image")) {
    const json& image = heap.at("image");
    Bytes bytes = imageBytes(image, baseDir);
    uint64_t address = optionalField(image, "address", 0, 0xFFFFFF);
    uint64_t size = optionalField(image, "block_size", 64, 255);
    if (size == 0) fail("block_size must be 1 to 255");
    out.reserve(out.size() + bytes.size() + bytes.size() / size * 5 + 5);
    for (std::size_t at = 0; at < bytes.size(); at += size) {
      std::size_t n = std::min<std::size_t>(size, bytes.size() - at);
      Bytes data(bytes.begin() + at, bytes.begin() + at + n);
      add(block((address + at) & 0xFFFFFF, data, nullptr));
    }
  }
  for (const json& b : heap.value("blocks", json::array())) {
    add(block(field(b, "address", 0xFFFFFF), hex(b.at("data_hex"), "data_hex"), &b));
  }
  if (heap.contains("tail_hex")) append(out, hex(heap.at("tail_hex"), "tail_hex"));
}

}  // namespace

BuiltContainer BuildContainer(const json& description, const std::filesystem::path& baseDir) {
  if (!description.is_object()) fail("the description is a JSON object");
  BuiltContainer built;
  Bytes& out = built.bytes;

  if (description.contains("signature")) append(out, signatureSection(description.at("signature")));
  built.signatureLength = static_cast<uint32_t>(out.size());

  Bytes area;
  if (description.contains("hash_area")) area = hashArea(description.at("hash_area"));

  const json header = description.value("header", json::object());
  append(out, text(header.value("magic", kSoftwareMagic)));
  out.push_back(static_cast<uint8_t>(optionalField(header, "magic_end", 0x1A, 0xFF)));
  const uint16_t version = scrambleVersionOf(header);
  bool ended = false;
  for (const json& record : header.value("records", json::array())) {
    built.recordOffsets.push_back(static_cast<uint32_t>(out.size()));
    append(out, headerRecord(record, version, area.size()));
    ended = ended || field(record, "type", 0xFF) == 4;
  }
  if (!ended && header.value("end_record", true)) {
    built.recordOffsets.push_back(static_cast<uint32_t>(out.size()));
    append(out, headerRecord(json{{"type", 4}}, version, area.size()));
  }
  built.headerLength = static_cast<uint32_t>(out.size()) - built.signatureLength;

  append(out, area);
  built.hashAreaLength = static_cast<uint32_t>(area.size());

  appendHeap(built, description.value("heap", json::object()), baseDir);
  return built;
}

}  // namespace xbitool
