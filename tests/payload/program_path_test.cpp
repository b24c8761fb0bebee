#include <gtest/gtest.h>

#include <filesystem>

#include "host/program_path.h"

namespace {

TEST(ProgramPath, FromTheCommandLine) {
  struct Case {
    const char* commandLine;
    const char* path;
  };
  const Case cases[] = {
      {R"("C:\Program Files\UpdateTool\R10" -debug)", R"(C:\Program Files\UpdateTool\R10.exe)"},
      {R"("C:\UT\r10.exe" /a)", R"(C:\UT\r10.exe)"},
      {R"(C:\UT\R10.EXE -debug)", R"(C:\UT\R10.EXE -debug)"},
      {R"(C:\UT\R10.eXe)", R"(C:\UT\R10.eXe)"},
      {"updatetool", "updatetool.exe"},
      {R"("C:\a b\tool.ExE")", R"(C:\a b\tool.ExE)"},
  };
  for (const Case& c : cases) EXPECT_EQ(programPathFromCommandLine(c.commandLine), c.path) << c.commandLine;
}

TEST(ProgramPath, OwnFileIsThisTestProgram) {
  const std::string path = ownProgramFile();
  EXPECT_EQ(path, std::filesystem::canonical("/proc/self/exe").string());
  EXPECT_EQ(std::filesystem::path(path).filename(), "payload_tests");
}

}  // namespace
