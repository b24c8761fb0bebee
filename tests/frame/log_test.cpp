#include <gtest/gtest.h>

#include <cstdio>
#include <cctype>
#include <string>

#include "doralex/frame/log.h"

namespace dlx {
namespace {

// Replaces every "hh:mm:ss:mmm :" time stamp by "<t>".
std::string markTimeStamps(const std::string& text) {
  static const char kShape[] = "00:00:00:000 :";
  const std::size_t n = sizeof kShape - 1;
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    bool stamp = i + n <= text.size();
    for (std::size_t k = 0; stamp && k < n; ++k) {
      char c = text[i + k];
      stamp = kShape[k] == '0' ? std::isdigit(static_cast<unsigned char>(c)) != 0 : c == kShape[k];
    }
    if (stamp) {
      out += "<t>";
      i += n;
    } else {
      out += text[i++];
    }
  }
  return out;
}

class ChannelStream : public testing::Test {
 protected:
  void SetUp() override {
    stream_ = std::tmpfile();
    ASSERT_NE(stream_, nullptr);
    SetChannelStream(0, stream_);
  }
  void TearDown() override {
    SetChannelStream(0, nullptr);
    std::fclose(stream_);
  }
  std::string written() {
    std::fflush(stream_);
    std::rewind(stream_);
    std::string text;
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream_)) > 0) text.append(buffer, n);
    return text;
  }
  static void fileSink(int32_t level, uint16_t categories) {
    SetLogSettings({0, 0, 0, 1, level, categories});
  }
  std::FILE* stream_ = nullptr;
};

TEST(Log, OffByDefaultAndFormatsNothing) {
  EXPECT_EQ(GetLogSettings().debugOn, 0);
  EXPECT_EQ(GetLogSettings().fileOn, 0);
  testing::internal::CaptureStderr();
  // Formatting this would read through an invalid pointer: with both sinks off
  // the call must return before it formats anything.
  LogMessage(0, 1, kLogUpdate, "%s", reinterpret_cast<const char*>(8));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(ChannelStream, LevelAndCategoryFilters) {
  fileSink(2, kLogUpdate | kLogSerial);
  struct Case {
    int32_t level;
    uint16_t category;
    bool written;
  } cases[] = {
      {3, kLogUpdate, false}, {2, kLogUpdate, true}, {1, kLogSerial, true},
      {1, kLogBfb, false},    {1, kLogContainer, false},
  };
  std::string expected;
  for (const Case& c : cases) {
    std::string text = "L" + std::to_string(c.level) + "C" + std::to_string(c.category) + "\n";
    LogMessage(0, c.level, c.category, "%s", text.c_str());
    if (c.written) expected += text;
  }
  std::string out = markTimeStamps(written());
  std::string stamped;
  for (std::size_t start = 0; start < expected.size();) {
    std::size_t end = expected.find('\n', start) + 1;
    stamped += "<t>" + expected.substr(start, end - start);
    start = end;
  }
  EXPECT_EQ(out, stamped);
}

TEST_F(ChannelStream, TimeStampStartsEveryLine) {
  fileSink(3, 0xF);
  LogMessage(0, 1, kLogUpdate, "abc");
  LogMessage(0, 1, kLogUpdate, "def\n");
  LogMessage(0, 1, kLogUpdate, "next\n");
  EXPECT_EQ(markTimeStamps(written()), "<t>abcdef\n<t>next\n");
}

TEST_F(ChannelStream, MessagesAreCutAt199Characters) {
  fileSink(3, 0xF);
  std::string longText(500, 'z');
  LogMessage(0, 1, kLogUpdate, "%s", longText.c_str());
  EXPECT_EQ(markTimeStamps(written()), "<t>" + std::string(199, 'z'));
}

TEST_F(ChannelStream, ChannelWithoutStreamWritesNothing) {
  fileSink(3, 0xF);
  LogMessage(1, 1, kLogUpdate, "elsewhere\n");
  EXPECT_EQ(written(), "");
}

TEST(Log, DebugSinkGoesToStandardErrorWithoutTimeStamp) {
  SetLogSettings({1, 1, kLogBfb, 0, 0, 0});
  testing::internal::CaptureStderr();
  LogMessage(0, 1, kLogBfb, "BFB : opening comport\n");
  LogMessage(0, 2, kLogBfb, "too detailed\n");
  LogMessage(0, 1, kLogSerial, "other category\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "BFB : opening comport\n");
}

TEST(Log, EnvironmentSwitchTurnsTheSinksOn) {
  setenv("DORALEX_LOG", "2:0x5", 1);
  ConfigureLogFromEnvironment();
  unsetenv("DORALEX_LOG");
  LogSettings s = GetLogSettings();
  EXPECT_EQ(s.debugOn, 1);
  EXPECT_EQ(s.debugLevel, 2);
  EXPECT_EQ(s.debugCategories, 0x5);
  EXPECT_EQ(s.fileOn, 0);
}

}  // namespace
}  // namespace dlx
