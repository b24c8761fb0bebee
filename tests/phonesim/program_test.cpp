// The phonesim program from its command line: the slave path on the first
// line, the link, and report and flash image written on SIGTERM.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "pc_port.h"
#include "phonesim/scenario.h"
#include "phonesim/simulator.h"

namespace phonesim_test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(PhonesimProgram, PlaysThePhoneUntilSigtermThenWritesReportAndFlash) {
  char dir_template[] = "/tmp/phonesim_test_XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  const std::string scenario = dir + "/scenario.json", link = dir + "/phone", report = dir + "/report.json",
                    flash = dir + "/flash.bin";
  std::ofstream(scenario) << R"({"initial_mode": "loader", "timing": {"announce_interval_ms": 50}})";

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    execl(PHONESIM_PROGRAM, "phonesim", "--scenario", scenario.c_str(), "--link", link.c_str(), "--report",
          report.c_str(), "--flash-out", flash.c_str(), "--timeout", "20", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  FILE* lines = fdopen(out[0], "r");
  char first[256] = {};
  ASSERT_NE(fgets(first, sizeof first, lines), nullptr);
  std::string slave = first;
  ASSERT_FALSE(slave.empty());
  slave.pop_back();
  char resolved[256] = {};
  ASSERT_GT(readlink(link.c_str(), resolved, sizeof resolved - 1), 0);
  EXPECT_EQ(slave, resolved);

  {
    PcPort pc(link, 115200);
    auto hello = pc.ReadFrame(2000);
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->mi, 0x31);
    pc.Write(Block(0x000004, {0xDE, 0xAD}));
    EXPECT_EQ(pc.Read(1, 1000), Bytes{0x06});
  }
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  fclose(lines);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  EXPECT_EQ(ReadFile(flash), std::string("\xFF\xFF\xFF\xFF\xDE\xAD", 6));
  const nlohmann::json r = nlohmann::json::parse(ReadFile(report));
  ASSERT_EQ(r["blocks"].size(), 1u);
  EXPECT_EQ(r["blocks"][0]["address"], 4);
  EXPECT_EQ(r["flash"]["size"], 6);
  EXPECT_EQ(access(link.c_str(), F_OK), -1);  // the link is gone with the phone

  for (const auto& f : {scenario, report, flash}) unlink(f.c_str());
  rmdir(dir.c_str());
}

TEST(PhonesimProgram, RefusesABadScenarioNamingTheField) {
  char path[] = "/tmp/phonesim_bad_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string text = R"({"loader": {"flash_size_mbit": 16, "flash_sise": 3}})";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  const std::string command = std::string(PHONESIM_PROGRAM) + " --scenario " + path + " --link " + path +
                              ".link 2>&1";
  FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char buffer[512] = {};
  const size_t n = fread(buffer, 1, sizeof buffer - 1, p);
  const int status = pclose(p);
  EXPECT_NE(WEXITSTATUS(status), 0);
  EXPECT_NE(std::string(buffer, n).find("loader.flash_sise: unknown field"), std::string::npos) << buffer;
  unlink(path);
}

// On a serial device the phone sets its own speed; here the "device" is the
// slave of a second pty and the PC talks on that pty's master.
TEST(PhonesimDevice, PlaysThePhoneOnAnExistingSerialDevice) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  phonesim::Scenario scenario;
  std::string error;
  ASSERT_TRUE(phonesim::ParseScenario(R"({"initial_mode": "at"})", &scenario, &error));
  auto phone = phonesim::Simulator::OnDevice(ptsname(master), scenario, &error);
  ASSERT_TRUE(phone) << error;
  EXPECT_TRUE(phone->slave_path().empty());
  const std::string command = "AT\r";
  ASSERT_EQ(write(master, command.data(), command.size()), 3);
  std::string answer;
  for (int i = 0; i < 100 && answer.size() < 7; ++i) {
    pollfd p {master, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buffer[64];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n > 0) answer.append(buffer, static_cast<size_t>(n));
  }
  EXPECT_EQ(answer, "AT\rOK\r\n");
  phone->Stop();
  close(master);
}

TEST(PhonesimProgram, ExampleScenariosAreAccepted) {
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(PHONESIM_EXAMPLES)) {
    phonesim::Scenario scenario;
    std::string error;
    EXPECT_TRUE(phonesim::ParseScenario(ReadFile(entry.path().string()), &scenario, &error))
        << entry.path() << ": " << error;
    ++seen;
  }
  EXPECT_GE(seen, 2);
}

}  // namespace
}  // namespace phonesim_test
