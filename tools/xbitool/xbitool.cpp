// xbitool: builds XBI containers from a JSON description and shows what the
// library's reader makes of a container.
//   xbitool build DESCRIPTION.json OUT
//   xbitool info [--json] FILE
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "doralex/container.h"
#include "doralex/doralex.h"
#include "xbi_builder.h"

namespace {

// Reports keep the order in which their fields are named.
using json = nlohmann::ordered_json;

int usage() {
  std::cerr << "usage: xbitool build DESCRIPTION.json OUT\n"
               "       xbitool info [--json] FILE\n";
  return 2;
}

std::string hexCode(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", code);
  return text;
}

// A text field of at most `width` bytes; bytes outside printable ASCII are
// shown as \xNN so that any container can be shown (and is valid JSON).
std::string shown(const char* field, std::size_t width) {
  std::string out;
  for (std::size_t i = 0; i < width && field[i] != '\0'; ++i) {
    auto c = static_cast<unsigned char>(field[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out;
}

template <std::size_t N>
std::string shown(const char (&field)[N]) {
  return shown(field, N);
}

json errorList() {
  json list = json::array();
  for (int i = 0; i < dlx::GetLibraryErrorCount(0); ++i) {
    const dlx::LibraryErrorEntry& entry = *dlx::GetLibraryErrorAt(0, i);
    json parameters = json::array();
    int ints = 0, texts = 0;
    for (int k = 0; k < 10 && entry.descriptor[k] != '\0'; ++k) {
      char letter = entry.descriptor[k];
      if (std::strchr("diouxDIOUX", letter) && ints < 5) {
        parameters.push_back(entry.intParams[ints++]);
      } else if ((letter == 's' || letter == 'S') && texts < 5) {
        parameters.push_back(shown(entry.textParams[texts++]));
      }
    }
    const dlx::ErrorTextRow* row = dlx::FindErrorText(entry.code);
    list.push_back({{"code", hexCode(entry.code)},
                    {"message", row ? row->message : ""},
                    {"parameters", parameters}});
  }
  if (dlx::LibraryErrorListOverflowed(0)) list.push_back({{"code", "0xFFF"}, {"parameters", json::array()}});
  return list;
}

json productInfo(const dlx::ProductInfo& p) {
  return {{"product_type", shown(p.productType)}, {"project_name", shown(p.projectName)},
          {"version", shown(p.version)},          {"compile_date", shown(p.compileDate)},
          {"compile_time", shown(p.compileTime)}, {"file_type", shown(p.fileType)},
          {"split_mode", shown(p.splitMode)},     {"split_name", shown(p.splitName)}};
}

json headerInfo(const dlx::XbiHeaderInfo& h) {
  json j;
  j["product_type"] = shown(h.product_type);
  j["project_name"] = shown(h.project_name);
  j["svn"] = h.svn;
  j["file_type"] = h.file_type;
  j["sw_size"] = h.sw_size;
  j["split_id"] = h.split_id;
  j["split_address"] = h.split_address;
  j["header_version"] = h.header_version;
  j["required_library_version"] = h.required_library_version;
  j["compile_date"] = shown(h.compile_date);
  j["compile_time"] = shown(h.compile_time);
  j["status_date"] = shown(h.status_date);
  j["status_time"] = shown(h.status_time);
  j["status_value"] = h.status_value;
  j["bgj_address"] = h.bgj_address;
  j["flash_code_request_value"] = h.flash_code_request_value;
  j["project_type"] = h.project_type;
  j["language_group"] = {h.language_group[0], h.language_group[1], h.language_group[2],
                         h.language_group[3]};
  j["transfer_setup_value"] = h.transfer_setup_value;
  j["compression_mode"] = h.compression_mode;
  j["compression_parameters"] = {h.compression_p1, h.compression_p2, h.compression_p3,
                                 h.compression_p4, h.compression_p5, h.compression_p6,
                                 h.compression_p7};
  j["map_info_size"] = h.map_info_size;
  j["map_info_complete"] = h.map_info_complete;
  j["aux_data_length"] = h.aux_data_length;
  j["hash_area_length"] = h.hash_area_length;
  j["text_22"] = shown(h.text22);
  j["text_26"] = shown(h.text26);
  j["text_41"] = shown(h.text41);
  j["text_42"] = shown(h.text42);
  j["value_36"] = h.value36;
  j["value_39"] = h.value39;
  j["value_49"] = h.value49;
  j["value_51"] = h.value51;
  j["value_53"] = h.value53;
  j["date_time_59"] = {shown(h.pair59.date), shown(h.pair59.time)};
  j["date_time_60"] = {shown(h.pair60.date), shown(h.pair60.time)};
  j["text_61"] = shown(h.text61);
  j["text_62"] = shown(h.text62);
  j["byte_112"] = h.byte112;
  j["text_112"] = shown(h.text112);
  return j;
}

json lists(const dlx::XbiHeaderInfo& h) {
  json eraseAreas = json::array();
  for (const dlx::EraseArea* a = h.erase_area_list; a; a = a->next) {
    eraseAreas.push_back({{"start", a->start}, {"end", a->end}});
  }
  json splits = json::array();
  for (const dlx::SplitElement* s = h.split_list; s; s = s->next) {
    splits.push_back({{"start", s->start}, {"end", s->end}, {"split_parameter", s->splitParameter},
                      {"split_number", s->splitNumber}, {"kind", s->kind}, {"name", shown(s->name)}});
  }
  int eraseInfo = 0;
  for (const dlx::EraseInfoElement* e = h.erase_info_list; e; e = e->next) ++eraseInfo;
  json locaters = json::array();
  for (const dlx::LocaterEntry* l = h.locater_list; l; l = l->next) {
    locaters.push_back({l->value[0], l->value[1], l->value[2], l->value[3]});
  }
  return {{"erase_areas", eraseAreas}, {"split_elements", splits},
          {"erase_info_count", eraseInfo}, {"locater_entries", locaters}};
}

json signatureMaterial() {
  json keys = json::array();
  for (int i = 0; i < dlx::GetSignatureEntryCount(); ++i) {
    const dlx::SignatureEntry* e = dlx::GetSignatureEntryAt(i);
    keys.push_back({{"key_id", e->keyId}, {"signature_length", e->signatureLength},
                    {"frames_length", e->framesLength}});
  }
  json hash = nullptr;
  if (const dlx::HashList* h = dlx::GetHashList()) {
    hash = {{"hash_byte1", h->hashByte1},     {"hash_byte2", h->hashByte2},
            {"hash_number1", h->hashNumber1}, {"hash_number2", h->hashNumber2},
            {"frames_length", h->framesLength}};
  }
  return {{"signature_keys", keys}, {"hash_list", hash}};
}

void printText(const json& value, const std::string& indent) {
  std::size_t index = 0;
  for (auto it = value.begin(); it != value.end(); ++it, ++index) {
    const json& v = it.value();
    std::string key = value.is_object() ? it.key() : "[" + std::to_string(index) + "]";
    if (v.is_structured() && !v.empty() &&
        (v.is_object() || v.front().is_structured())) {
      std::cout << indent << key << ":\n";
      printText(v, indent + "  ");
    } else {
      std::cout << indent << key << ": " << (v.is_string() ? v.get<std::string>() : v.dump())
                << "\n";
    }
  }
}

int info(const std::string& path, bool asJson) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "xbitool: cannot read " << path << "\n";
    return 2;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  if (in.bad() || bytes.size() > UINT32_MAX) {
    std::cerr << "xbitool: cannot read " << path << "\n";
    return 2;
  }

  dlx::InitLibrary(dlx::kInterfaceMajor, dlx::kInterfaceMinor);
  dlx::SetUpdateMode(1);
  dlx::ProductInfo product{};
  bool accepted =
      dlx::ReadXbiContainer(&product, bytes.data(), static_cast<uint32_t>(bytes.size())) == 1;

  const dlx::XbiHeaderInfo& header = dlx::GetXbiHeaderInfo();
  const dlx::HeapLayout layout = dlx::GetHeapLayout();
  json report;
  report["file"] = path;
  report["accepted"] = accepted;
  report["errors"] = errorList();
  report["product_info"] = productInfo(product);
  report["header"] = headerInfo(header);
  report["lists"] = lists(header);
  json signature = signatureMaterial();
  report["signature_keys"] = signature["signature_keys"];
  report["hash_list"] = signature["hash_list"];
  report["layout"] = {{"S", layout.signatureLength},  {"G", layout.headerLength},
                      {"H", layout.hashAreaLength},   {"heap_length", layout.heapLength},
                      {"transfer_length", dlx::GetTransferLength()}};
  dlx::ReleaseXbiContainer();

  if (asJson) {
    std::cout << report.dump(2) << "\n";
  } else {
    printText(report, "");
  }
  return accepted ? 0 : 1;
}

int build(const std::string& descriptionPath, const std::string& outPath) {
  std::ifstream in(descriptionPath);
  if (!in) {
    std::cerr << "xbitool: cannot read " << descriptionPath << "\n";
    return 2;
  }
  try {
    nlohmann::json description = nlohmann::json::parse(in);
    xbitool::BuiltContainer built = xbitool::BuildContainer(
        description, std::filesystem::path(descriptionPath).parent_path());
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(built.bytes.data()),
              static_cast<std::streamsize>(built.bytes.size()));
    if (!out) {
      std::cerr << "xbitool: cannot write " << outPath << "\n";
      return 2;
    }
    std::cout << outPath << ": " << built.bytes.size() << " bytes (S " << built.signatureLength
              << ", G " << built.headerLength << ", H " << built.hashAreaLength << ")\n";
    return 0;
  } catch (const nlohmann::json::exception& e) {
    std::cerr << "xbitool: " << descriptionPath << ": " << e.what() << "\n";
  } catch (const xbitool::DescriptionError& e) {
    std::cerr << "xbitool: " << descriptionPath << ": " << e.what() << "\n";
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "build") return build(args[1], args[2]);
  if (args.size() == 2 && args[0] == "info") return info(args[1], false);
  if (args.size() == 3 && args[0] == "info" && args[1] == "--json") return info(args[2], true);
  return usage();
}
