// xbitool as a command: build a container from a description file, then
// read it back with `info --json`.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

struct ToolRun {
  int status;
  std::string out;
};

ToolRun run(const std::string& args) {
  std::string command = std::string(XBITOOL_PATH) + " " + args + " 2>/dev/null";
  ToolRun result{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

class XbitoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("xbitool_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& content) {
    fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

const char* kDescription = R"({
  "signature": {"entries": [{"key_id": 7, "length": 128}]},
  "header": {"records": [
    {"type": 16, "value": 95}, {"type": 17, "value": 230},
    {"type": 40, "text": "R11"}, {"type": 23, "text": "PRJ11"},
    {"type": 18, "date": "24.12.02", "time": "18:00:00"},
    {"type": 29, "value": "0x52"}, {"type": 52, "value": %PROJECT%}, {"type": 64, "value": 3},
    {"type": 48, "start": "0x200000", "end": "0x3FFFFF"},
    {"type": 83, "start": 1, "end": 2, "parameter": 3, "kind": 0}, {"type": 84, "name": "LANG-A"},
    {"type": 86}
  ]},
  "hash_area": {"hash_byte1": 1, "hash_number1": 513, "list_length": 200},
  "heap": {"image": {"file": "image.bin", "address": "0x200000", "block_size": 32}}
})";

std::string description(int projectType) {
  std::string d = kDescription;
  d.replace(d.find("%PROJECT%"), 9, std::to_string(projectType));
  return d;
}

TEST_F(XbitoolTest, BuildThenInfoShowsWhatTheLibraryRead) {
  write("image.bin", std::string(100, '\x5A'));
  std::string desc = write("d.json", description(5));
  ASSERT_EQ(run("build " + desc + " " + path("c.xbi")).status, 0);

  ToolRun info = run("info --json " + path("c.xbi"));
  ASSERT_EQ(info.status, 0) << info.out;
  json j = json::parse(info.out);
  EXPECT_EQ(j["accepted"], true);
  EXPECT_TRUE(j["errors"].empty());
  EXPECT_EQ(j["product_info"]["product_type"], "R11");
  EXPECT_EQ(j["product_info"]["version"], "SVN: 52");
  EXPECT_EQ(j["product_info"]["file_type"], "Code Only");
  EXPECT_EQ(j["product_info"]["split_mode"], "Split Only");
  EXPECT_EQ(j["product_info"]["split_name"], "LANG-A");
  EXPECT_EQ(j["header"]["svn"], 0x52);
  EXPECT_EQ(j["header"]["compile_date"], "24.12.02");
  EXPECT_EQ(j["header"]["project_type"], 5);
  EXPECT_EQ(j["header"]["hash_area_length"], 230);
  EXPECT_EQ(j["header"]["split_id"], 0xFFFFFFFFu);
  EXPECT_EQ(j["lists"]["erase_areas"][0]["start"], 0x200000);
  EXPECT_EQ(j["lists"]["split_elements"][0]["name"], "LANG-A");
  EXPECT_EQ(j["signature_keys"][0]["key_id"], 7);
  EXPECT_EQ(j["signature_keys"][0]["frames_length"], 155);
  EXPECT_EQ(j["hash_list"]["hash_number1"], 513);
  EXPECT_EQ(j["hash_list"]["frames_length"], 236);
  EXPECT_EQ(j["layout"]["S"], 37 + 6 + 128 + 4);
  EXPECT_EQ(j["layout"]["H"], 230);
  EXPECT_EQ(j["layout"]["transfer_length"], 100 + 4 * 5);  // 32+32+32+4 bytes in four blocks

  ToolRun text = run("info " + path("c.xbi"));
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("accepted: true"), std::string::npos);
  EXPECT_NE(text.out.find("product_type: R11"), std::string::npos);
}

TEST_F(XbitoolTest, RefusedContainerShowsTheErrorListAndExits1) {
  write("image.bin", std::string(10, '\x01'));
  std::string desc = write("d.json", description(4));
  ASSERT_EQ(run("build " + desc + " " + path("c.xbi")).status, 0);
  ToolRun info = run("info --json " + path("c.xbi"));
  EXPECT_EQ(info.status, 1);
  json j = json::parse(info.out);
  EXPECT_EQ(j["accepted"], false);
  ASSERT_EQ(j["errors"].size(), 1u);
  EXPECT_EQ(j["errors"][0]["code"], "0x807");
}

TEST_F(XbitoolTest, UnreadableFilesAndBadDescriptions) {
  EXPECT_EQ(run("info " + path("missing.xbi")).status, 2);
  EXPECT_EQ(run("info --json " + path("missing.xbi")).status, 2);
  EXPECT_EQ(run("frobnicate").status, 2);

  std::string bad = write("bad.json", R"({"header": {"records": [{"type": 35}]}})");
  EXPECT_EQ(run("build " + bad + " " + path("out.xbi")).status, 1);
  std::string notJson = write("nj.json", "{ nope");
  EXPECT_EQ(run("build " + notJson + " " + path("out.xbi")).status, 1);
  std::string noImage = write("ni.json", R"({"heap": {"image": {"file": "none.bin"}}})");
  EXPECT_EQ(run("build " + noImage + " " + path("out.xbi")).status, 1);
}

}  // namespace
