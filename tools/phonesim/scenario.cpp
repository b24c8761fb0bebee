#include "phonesim/scenario.h"

#include <cctype>
#include <initializer_list>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace phonesim {

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::kOff: return "off";
    case Mode::kAt: return "at";
    case Mode::kBfb: return "bfb";
    case Mode::kSilent: return "silent";
    case Mode::kRebooting: return "rebooting";
    case Mode::kLoader: return "loader";
    case Mode::kDead: return "dead";
    case Mode::kClosed: return "closed";
  }
  return "?";
}

namespace {

using nlohmann::json;

struct BadField : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw BadField(path + ": " + what);
}

void CheckKeys(const json& obj, const std::string& path, std::initializer_list<const char*> allowed) {
  if (!obj.is_object()) Fail(path, "must be an object");
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    bool known = false;
    for (const char* name : allowed) known = known || it.key() == name;
    if (!known) Fail(path + "." + it.key(), "unknown field");
  }
}

// Numbers may be written as JSON integers or as "0x.." strings.
int64_t Number(const json& v, const std::string& path) {
  if (v.is_number_integer()) return v.get<int64_t>();
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    try {
      size_t used = 0;
      int64_t n = std::stoll(s, &used, 0);
      if (used == s.size()) return n;
    } catch (const std::exception&) {
    }
  }
  Fail(path, "must be an integer or a number text such as \"0x33\"");
}

int64_t Ranged(const json& v, const std::string& path, int64_t lo, int64_t hi) {
  int64_t n = Number(v, path);
  if (n < lo || n > hi) Fail(path, "out of range " + std::to_string(lo) + ".." + std::to_string(hi));
  return n;
}

std::string Text(const json& v, const std::string& path) {
  if (!v.is_string()) Fail(path, "must be a text");
  return v.get<std::string>();
}

bool Flag(const json& v, const std::string& path) {
  if (!v.is_boolean()) Fail(path, "must be true or false");
  return v.get<bool>();
}

std::vector<uint8_t> HexBytes(const json& v, const std::string& path) {
  const std::string s = Text(v, path);
  std::vector<uint8_t> out;
  int nibble = -1;
  for (char c : s) {
    if (c == ' ' || c == ':' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) Fail(path, "must be hexadecimal bytes");
    int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
    if (nibble < 0) {
      nibble = d;
    } else {
      out.push_back(static_cast<uint8_t>(nibble * 16 + d));
      nibble = -1;
    }
  }
  if (nibble >= 0) Fail(path, "odd number of hexadecimal digits");
  return out;
}

Mode ModeValue(const json& v, const std::string& path, std::initializer_list<Mode> allowed) {
  const std::string s = Text(v, path);
  for (Mode m : allowed)
    if (s == ModeName(m)) return m;
  std::string names;
  for (Mode m : allowed) names += std::string(names.empty() ? "" : ", ") + ModeName(m);
  Fail(path, "must be one of " + names);
}

Point ParsePoint(const json& v, const std::string& path) {
  CheckKeys(v, path, {"loader_command", "block", "bfb", "sub", "at_command", "mode", "occurrence"});
  Point p;
  int selectors = 0;
  if (v.contains("loader_command")) {
    p.loader_command = static_cast<int>(Ranged(v["loader_command"], path + ".loader_command", 0, 255));
    ++selectors;
  }
  if (v.contains("block")) {
    p.block = static_cast<int>(Ranged(v["block"], path + ".block", 0, INT32_MAX));
    ++selectors;
  }
  if (v.contains("bfb")) {
    p.bfb_type = static_cast<int>(Ranged(v["bfb"], path + ".bfb", 0, 255));
    ++selectors;
  }
  if (v.contains("sub")) p.bfb_sub = static_cast<int>(Ranged(v["sub"], path + ".sub", 0, 255));
  if (v.contains("at_command")) {
    p.at_command = Text(v["at_command"], path + ".at_command");
    ++selectors;
  }
  if (v.contains("mode")) {
    p.mode = ModeValue(v["mode"], path + ".mode",
                       {Mode::kOff, Mode::kAt, Mode::kBfb, Mode::kRebooting, Mode::kLoader});
    ++selectors;
  }
  if (v.contains("occurrence"))
    p.occurrence = static_cast<int>(Ranged(v["occurrence"], path + ".occurrence", 1, INT32_MAX));
  if (selectors != 1) Fail(path, "needs exactly one of loader_command, block, bfb, at_command, mode");
  if (p.bfb_sub && !p.bfb_type) Fail(path + ".sub", "only with bfb");
  return p;
}

FrameSelector ParseFrame(const json& v, const std::string& path) {
  CheckKeys(v, path, {"mi", "bfb", "sub", "occurrence"});
  FrameSelector f;
  if (v.contains("mi")) f.mi = static_cast<int>(Ranged(v["mi"], path + ".mi", 0, 255));
  if (v.contains("bfb")) f.bfb_type = static_cast<int>(Ranged(v["bfb"], path + ".bfb", 0, 255));
  if (v.contains("sub")) f.bfb_sub = static_cast<int>(Ranged(v["sub"], path + ".sub", 0, 255));
  if (v.contains("occurrence"))
    f.occurrence = static_cast<int>(Ranged(v["occurrence"], path + ".occurrence", 1, INT32_MAX));
  if (f.mi.has_value() == f.bfb_type.has_value()) Fail(path, "needs exactly one of mi, bfb");
  if (f.bfb_sub && !f.bfb_type) Fail(path + ".sub", "only with bfb");
  return f;
}

template <typename Fn>
void EachItem(const json& v, const std::string& path, Fn fn) {
  if (!v.is_array()) Fail(path, "must be a list");
  for (size_t i = 0; i < v.size(); ++i) fn(v[i], path + "[" + std::to_string(i) + "]");
}

void ParseFaults(const json& v, Scenario& s) {
  const std::string path = "faults";
  CheckKeys(v, path, {"nak_block", "busy_block", "error_frame", "silent_at", "close_at", "corrupt_frame",
                      "stray_bytes"});
  if (v.contains("nak_block"))
    EachItem(v["nak_block"], path + ".nak_block", [&](const json& e, const std::string& p) {
      CheckKeys(e, p, {"block", "count"});
      Scenario::NakBlock n;
      n.block = static_cast<int>(Ranged(e.value("block", json(0)), p + ".block", 0, INT32_MAX));
      n.count = static_cast<int>(Ranged(e.value("count", json(1)), p + ".count", 1, 255));
      s.nak_blocks.push_back(n);
    });
  if (v.contains("busy_block"))
    EachItem(v["busy_block"], path + ".busy_block", [&](const json& e, const std::string& p) {
      CheckKeys(e, p, {"block", "delay_ms"});
      Scenario::BusyBlock b;
      b.block = static_cast<int>(Ranged(e.value("block", json(0)), p + ".block", 0, INT32_MAX));
      b.delay_ms = static_cast<int>(Ranged(e.value("delay_ms", json(100)), p + ".delay_ms", 0, 600000));
      s.busy_blocks.push_back(b);
    });
  if (v.contains("error_frame"))
    EachItem(v["error_frame"], path + ".error_frame", [&](const json& e, const std::string& p) {
      CheckKeys(e, p, {"at", "data"});
      if (!e.contains("at") || !e.contains("data")) Fail(p, "needs at and data");
      Scenario::ErrorFrame f;
      f.at = ParsePoint(e["at"], p + ".at");
      f.data = HexBytes(e["data"], p + ".data");
      if (f.data.empty() || f.data.size() > 63) Fail(p + ".data", "must hold 1..63 bytes");
      s.error_frames.push_back(f);
    });
  if (v.contains("silent_at")) s.silent_at = ParsePoint(v["silent_at"], path + ".silent_at");
  if (v.contains("close_at")) s.close_at = ParsePoint(v["close_at"], path + ".close_at");
  if (v.contains("corrupt_frame"))
    EachItem(v["corrupt_frame"], path + ".corrupt_frame", [&](const json& e, const std::string& p) {
      s.corrupt_frames.push_back(ParseFrame(e, p));
    });
  if (v.contains("stray_bytes"))
    EachItem(v["stray_bytes"], path + ".stray_bytes", [&](const json& e, const std::string& p) {
      CheckKeys(e, p, {"frame", "bytes", "inside_preamble"});
      if (!e.contains("frame") || !e.contains("bytes")) Fail(p, "needs frame and bytes");
      Scenario::StrayBytes b;
      b.frame = ParseFrame(e["frame"], p + ".frame");
      b.bytes = HexBytes(e["bytes"], p + ".bytes");
      if (e.contains("inside_preamble")) b.inside_preamble = Flag(e["inside_preamble"], p + ".inside_preamble");
      s.stray_bytes.push_back(b);
    });
}

void ParseEeprom(const json& v, Scenario& s) {
  const std::string path = "eeprom";
  CheckKeys(v, path, {"record", "record_bytes", "absent_code", "busy_open_count", "busy_open_delay_ms",
                      "refuse"});
  if (v.contains("record")) {
    s.record_state = Text(v["record"], path + ".record");
    if (s.record_state != "absent" && s.record_state != "valid" && s.record_state != "invalid")
      Fail(path + ".record", "must be absent, valid or invalid");
  }
  if (v.contains("record_bytes")) {
    s.record = HexBytes(v["record_bytes"], path + ".record_bytes");
    if (s.record.size() != 64) Fail(path + ".record_bytes", "must hold 64 bytes");
  }
  if (v.contains("absent_code")) s.absent_code = static_cast<int>(Ranged(v["absent_code"], path + ".absent_code", 0, 255));
  if (v.contains("busy_open_count"))
    s.busy_open_count = static_cast<int>(Ranged(v["busy_open_count"], path + ".busy_open_count", 0, 255));
  if (v.contains("busy_open_delay_ms"))
    s.busy_open_delay_ms = static_cast<int>(Ranged(v["busy_open_delay_ms"], path + ".busy_open_delay_ms", 0, 600000));
  if (v.contains("refuse"))
    EachItem(v["refuse"], path + ".refuse", [&](const json& e, const std::string& p) {
      CheckKeys(e, p, {"command", "code", "count"});
      EepromRefusal r;
      r.command = static_cast<int>(Ranged(e.value("command", json(0)), p + ".command", 0x11, 0x15));
      r.code = static_cast<int>(Ranged(e.value("code", json(0x20)), p + ".code", 0, 255));
      r.count = static_cast<int>(Ranged(e.value("count", json(1)), p + ".count", 1, 255));
      s.eeprom_refusals.push_back(r);
    });
}

void ParseLoader(const json& v, Scenario& s) {
  const std::string path = "loader";
  CheckKeys(v, path, {"speed", "flash_code", "flash_code_status", "flash_size_mbit", "flash_base",
                      "erase_block_size", "split_id", "split_prefix", "new_concept_erase",
                      "erase_progress_frames", "compression_supported", "announce_data", "eot_data",
                      "unknown_command"});
  auto u32 = [&](const char* key) { return static_cast<uint32_t>(Ranged(v[key], path + "." + key, 0, 0xFFFFFFFFLL)); };
  if (v.contains("speed")) s.loader_speed = u32("speed");
  if (v.contains("flash_code")) s.flash_code = static_cast<uint16_t>(Ranged(v["flash_code"], path + ".flash_code", 0, 0xFFFF));
  if (v.contains("flash_code_status"))
    s.flash_code_status = static_cast<uint8_t>(Ranged(v["flash_code_status"], path + ".flash_code_status", 0, 255));
  if (v.contains("flash_size_mbit"))
    s.flash_size_mbit = static_cast<uint16_t>(Ranged(v["flash_size_mbit"], path + ".flash_size_mbit", 0, 128));
  if (v.contains("flash_base")) s.flash_base = u32("flash_base");
  if (v.contains("erase_block_size")) {
    s.erase_block_size = u32("erase_block_size");
    if (s.erase_block_size == 0) Fail(path + ".erase_block_size", "must not be 0");
  }
  if (v.contains("split_id")) s.split_id = u32("split_id");
  if (v.contains("split_prefix")) s.split_prefix = u32("split_prefix");
  if (v.contains("new_concept_erase")) s.new_concept_erase = Flag(v["new_concept_erase"], path + ".new_concept_erase");
  if (v.contains("erase_progress_frames"))
    s.erase_progress_frames = static_cast<int>(Ranged(v["erase_progress_frames"], path + ".erase_progress_frames", 0, 255));
  if (v.contains("compression_supported"))
    s.compression_supported = Flag(v["compression_supported"], path + ".compression_supported");
  auto frame_data = [&](const char* key, std::vector<uint8_t>& out) {
    if (!v.contains(key)) return;
    out = HexBytes(v[key], path + "." + key);
    if (out.size() > 63) Fail(path + "." + key, "must hold at most 63 bytes");
  };
  frame_data("announce_data", s.announce_data);
  frame_data("eot_data", s.eot_data);
  if (v.contains("unknown_command")) {
    const std::string u = Text(v["unknown_command"], path + ".unknown_command");
    if (u != "nak" && u != "ignore") Fail(path + ".unknown_command", "must be nak or ignore");
    s.unknown_command_nak = u == "nak";
  }
}

void ParseSignature(const json& v, Scenario& s) {
  const std::string path = "signature";
  CheckKeys(v, path, {"enabled", "init_answer", "key_id", "signature_answer", "hash_answer"});
  if (v.contains("enabled")) s.signature_enabled = Flag(v["enabled"], path + ".enabled");
  if (v.contains("init_answer")) s.signature_init_answer = static_cast<int>(Ranged(v["init_answer"], path + ".init_answer", 0, 255));
  if (v.contains("key_id")) s.signature_key_id = static_cast<uint32_t>(Ranged(v["key_id"], path + ".key_id", 0, 0xFFFFFFFFLL));
  if (v.contains("signature_answer"))
    s.signature_answer = static_cast<int>(Ranged(v["signature_answer"], path + ".signature_answer", 0, 255));
  if (v.contains("hash_answer")) s.hash_answer = static_cast<int>(Ranged(v["hash_answer"], path + ".hash_answer", 0, 255));
}

void ParseTiming(const json& v, Scenario& s) {
  const std::string path = "timing";
  CheckKeys(v, path, {"customer_reboot_ms", "announce_interval_ms", "ack_timeout_ms", "resend_limit",
                      "restart_after_update_ms", "boot_ms", "manual_press_delay_ms", "byte_gap_ms",
                      "erase_step_ms", "answer_delay_ms", "speed_tolerance_percent"});
  auto ms = [&](const char* key, int& out, int lo) {
    if (v.contains(key)) out = static_cast<int>(Ranged(v[key], path + "." + key, lo, 600000));
  };
  ms("customer_reboot_ms", s.customer_reboot_ms, 0);
  ms("announce_interval_ms", s.announce_interval_ms, 1);
  ms("ack_timeout_ms", s.ack_timeout_ms, 1);
  ms("resend_limit", s.resend_limit, 0);
  ms("restart_after_update_ms", s.restart_after_update_ms, 0);
  ms("boot_ms", s.boot_ms, 0);
  ms("manual_press_delay_ms", s.manual_press_delay_ms, 0);
  ms("byte_gap_ms", s.byte_gap_ms, 1);
  ms("erase_step_ms", s.erase_step_ms, 0);
  ms("answer_delay_ms", s.answer_delay_ms, 0);
  if (v.contains("speed_tolerance_percent")) {
    if (!v["speed_tolerance_percent"].is_number()) Fail(path + ".speed_tolerance_percent", "must be a number");
    s.speed_tolerance_percent = v["speed_tolerance_percent"].get<double>();
    if (s.speed_tolerance_percent < 0 || s.speed_tolerance_percent > 50)
      Fail(path + ".speed_tolerance_percent", "out of range 0..50");
  }
}

std::string FixedText(const json& v, const std::string& path, size_t max) {
  std::string t = Text(v, path);
  if (t.size() > max) Fail(path, "longer than " + std::to_string(max) + " characters");
  return t;
}

void ParseTop(const json& v, Scenario& s) {
  CheckKeys(v, "scenario",
            {"identity", "imei", "at_error_until_sqwe2", "at_echo", "at_speeds", "bfb_speed", "initial_mode",
             "mode_after_boot", "mode_after_update", "voltage_mv", "svn", "software_version_high",
             "product_type", "compile_date", "compile_time", "put_count", "directory", "eeprom", "loader",
             "signature", "timing", "faults"});
  if (v.contains("identity")) s.identity = Text(v["identity"], "identity");
  if (v.contains("imei")) s.imei = Text(v["imei"], "imei");
  if (v.contains("at_error_until_sqwe2")) s.at_error_until_sqwe2 = Flag(v["at_error_until_sqwe2"], "at_error_until_sqwe2");
  if (v.contains("at_echo")) s.at_echo = Flag(v["at_echo"], "at_echo");
  if (v.contains("at_speeds")) {
    s.at_speeds.clear();
    EachItem(v["at_speeds"], "at_speeds", [&](const json& e, const std::string& p) {
      s.at_speeds.push_back(static_cast<uint32_t>(Ranged(e, p, 50, 4000000)));
    });
  }
  if (v.contains("bfb_speed")) s.bfb_speed = static_cast<uint32_t>(Ranged(v["bfb_speed"], "bfb_speed", 50, 4000000));
  if (v.contains("initial_mode"))
    s.initial_mode = ModeValue(v["initial_mode"], "initial_mode",
                               {Mode::kAt, Mode::kBfb, Mode::kOff, Mode::kSilent, Mode::kLoader});
  if (v.contains("mode_after_boot")) s.mode_after_boot = ModeValue(v["mode_after_boot"], "mode_after_boot", {Mode::kAt, Mode::kBfb});
  if (v.contains("mode_after_update"))
    s.mode_after_update = ModeValue(v["mode_after_update"], "mode_after_update", {Mode::kAt, Mode::kBfb, Mode::kOff});
  if (v.contains("voltage_mv")) s.voltage_mv = static_cast<uint16_t>(Ranged(v["voltage_mv"], "voltage_mv", 0, 0xFFFF));
  if (v.contains("svn")) s.svn = static_cast<uint8_t>(Ranged(v["svn"], "svn", 0, 255));
  if (v.contains("software_version_high"))
    s.software_version_high = static_cast<uint8_t>(Ranged(v["software_version_high"], "software_version_high", 0, 255));
  if (v.contains("product_type")) s.product_type = FixedText(v["product_type"], "product_type", 16);
  if (v.contains("compile_date")) s.compile_date = FixedText(v["compile_date"], "compile_date", 8);
  if (v.contains("compile_time")) s.compile_time = FixedText(v["compile_time"], "compile_time", 8);
  if (v.contains("put_count")) s.put_count = static_cast<uint32_t>(Ranged(v["put_count"], "put_count", 0, 0xFFFFFFFFLL));
  if (v.contains("directory")) s.directory = FixedText(v["directory"], "directory", 16);
  if (v.contains("eeprom")) ParseEeprom(v["eeprom"], s);
  if (v.contains("loader")) ParseLoader(v["loader"], s);
  if (v.contains("signature")) ParseSignature(v["signature"], s);
  if (v.contains("timing")) ParseTiming(v["timing"], s);
  if (v.contains("faults")) ParseFaults(v["faults"], s);
}

}  // namespace

bool ParseScenario(const std::string& json_text, Scenario* out, std::string* error) {
  Scenario s;
  try {
    const json v = json::parse(json_text);
    ParseTop(v, s);
  } catch (const json::exception& e) {
    if (error) *error = std::string("scenario is not valid JSON: ") + e.what();
    return false;
  } catch (const BadField& e) {
    if (error) *error = std::string("scenario field ") + e.what();
    return false;
  }
  *out = std::move(s);
  return true;
}

}  // namespace phonesim
