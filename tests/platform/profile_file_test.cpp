// Profile file lookups as "addifast.ini" needs them.
#include "platform/profile_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace platform {
namespace {

class ProfileFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/profile-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    path = name;
    std::ofstream(path) << "; comment\n"
                           "[General]\n"
                           "ComPortType=wrong section\n"
                           "[com2]\r\n"
                           "  comporttype =  AddiData  \r\n"
                           "[Com3]\n"
                           "Other=1\n"
                           "ComPortType=\"fastboot\"\n"
                           "ComPortType=second\n"
                           "[Com4]\n"
                           "ComPortType=a-card-type-longer-than-nineteen\n";
  }
  void TearDown() override { unlink(path.c_str()); }
  std::string path;
};

TEST_F(ProfileFileTest, Lookups) {
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"Com2", "ComPortType", "AddiData"},    // section and key in any case, blanks trimmed
      {"COM3", "ComPortType", "fastboot"},    // quotes removed, first entry wins
      {"Com4", "ComPortType", "a-card-type-longer-"},  // cut to 19 characters
      {"Com1", "ComPortType", "default"},     // no such section
      {"Com3", "Missing", "default"},         // no such key
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section);
    EXPECT_EQ(ReadProfileString(path, c.section, c.key, "default", 19), c.expected);
  }
  EXPECT_EQ(ReadProfileString("/tmp/no-such-profile.ini", "Com1", "ComPortType", "fastboot", 19),
            "fastboot");
  EXPECT_EQ(ReadProfileString(path, "Com1", "ComPortType", "a-long-default-value", 6), "a-long");
}

TEST(AddifastPath, EnvironmentOverridesTheSystemFile) {
  unsetenv("UPDATETOOL_ADDIFAST");
  EXPECT_EQ(AddifastPath(), "/etc/addifast.ini");
  setenv("UPDATETOOL_ADDIFAST", "/tmp/my-addifast.ini", 1);
  EXPECT_EQ(AddifastPath(), "/tmp/my-addifast.ini");
}

}  // namespace
}  // namespace platform
