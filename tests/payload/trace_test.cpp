// The trace file: only when it already exists, overwritten per run, texts
// written exactly as given.
#include <gtest/gtest.h>

#include <filesystem>
#include <cctype>
#include <string_view>

#include "host/trace.h"
#include "payload_test_support.h"

namespace {

// '#' stands for a digit and '@' for one or more letters; all else is literal.
bool likePattern(std::string_view text, std::string_view pattern) {
  size_t t = 0;
  for (char p : pattern) {
    if (p == '@') {
      const size_t start = t;
      while (t < text.size() && std::isalpha(static_cast<unsigned char>(text[t]))) ++t;
      if (t == start) return false;
    } else if (t >= text.size() || (p == '#' ? !std::isdigit(static_cast<unsigned char>(text[t])) : text[t] != p)) {
      return false;
    } else {
      ++t;
    }
  }
  return t == text.size();
}

constexpr const char* kVersionLine = "R10/R11/R12/R12X UpdateTool Version Nr. 1.03\r\n";

TEST(Trace, StaysOffWithoutTheFile) {
  ScratchDirectory dir;
  EXPECT_FALSE(startTrace());
  EXPECT_FALSE(traceEnabled());
  traceLine("nothing");
  traceTimedLine("nothing");
  EXPECT_FALSE(std::filesystem::exists("QuorTest.txt"));
}

TEST(Trace, OverwritesTheOldTraceWithTheHeaderOfThisRun) {
  ScratchDirectory dir;
  writeBytes("QuorTest.txt", std::vector<uint8_t>(5000, 'x'));
  ASSERT_TRUE(startTrace());
  EXPECT_TRUE(traceEnabled());
  const std::string text = readText("QuorTest.txt");
  EXPECT_TRUE(likePattern(text, "@, @ ##,  ####   ##:##\r\n" + std::string(kVersionLine))) << text;
  EXPECT_EQ(std::string(kVersionLine).size(), 46u);
}

TEST(Trace, WritersAppendTheirTextsAsGiven) {
  ScratchDirectory dir;
  writeBytes("QuorTest.txt", {});
  ASSERT_TRUE(startTrace());
  const size_t header = readText("QuorTest.txt").size();
  traceAppend("decryption failed!");
  traceAppend("Binary File Length: %d Bytes\r\n", 1234);
  traceLine("Language: English");
  traceTimedLine("OnClose");
  const std::string written = readText("QuorTest.txt").substr(header);
  EXPECT_TRUE(likePattern(written,
                          "decryption failed!Binary File Length: 1234 Bytes\r\n"
                          "Language: English\r\n"
                          "\r\n##:##:## OnClose\r\n"))
      << written;
}

}  // namespace
