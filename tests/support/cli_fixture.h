// The quorvane command run as a user runs it, with virtual drives in a home
// of the test's own.
#pragma once
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "support/test_support.h"
#include "vdrive/qvdrive.h"

namespace qvtest {

inline std::string QuorvaneCommand() { return std::string(qvtest::BinaryDir()) + "/cli/quorvane"; }

// cd-info's row for an audio track starting at LBA `start`.
inline std::string CdInfoAudioRow(int track, size_t start) {
  char row[48];
  std::snprintf(row, sizeof row, "%3d: %02zu:%02zu:%02zu  %06zu audio", track, (start + 150) / 4500,
                (start + 150) / 75 % 60, (start + 150) % 75, start);
  return row;
}

class CliTest : public ::testing::Test {
 protected:
  // The command with args (shell words); its exit code, what it said in out.
  int Run(const std::string& args) { return RunCommand(QuorvaneCommand() + " " + args + " 2>&1", &out); }
  // A path under the home, quoted for the shell.
  std::string At(const std::string& name) const { return "'" + (home.path() / name).string() + "'"; }

  // A shell command run in the home; its exit code, what it said in text.
  int InHome(const std::string& command, std::string* text) const {
    return RunCommand("cd " + At("") + " && " + command + " 2>&1", text);
  }
  // The JSON answer in out (after any lines before it); discarded if none.
  nlohmann::json Json() const {
    return nlohmann::json::parse(out.substr(std::min(out.find('{'), out.size())), nullptr, false);
  }
  // The bytes of a file under the home.
  std::string File(const std::string& name) const { return ReadFile(home.path() / name); }
  // The disc in a drive, as info --json tells it.
  nlohmann::json Disc(const std::string& drive) {
    EXPECT_EQ(Run("--json info --drive " + drive), 0) << out;
    return Json()["disc"];
  }
  // The regular files under a folder, by relative path, with their bytes.
  static std::map<std::string, std::string> Tree(const std::filesystem::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
      if (e.is_regular_file()) files[e.path().lexically_relative(dir).string()] = ReadFile(e.path());
    return files;
  }
  // The command with args (argv after the program's name) in the
  // background, held by a fault rule of the drive's until it has fired
  // `fired` times; then meanwhile() runs, the rule goes, and the command
  // ends. Its exit code; out the output.
  int Held(const std::string& drive, const std::string& rule, const std::vector<std::string>& args,
           const std::function<void(pid_t)>& meanwhile, int fired = 1) {
    EXPECT_EQ(QvDrive_SetFaults(drive.c_str(), ("{\"rules\": [" + rule + "]}").c_str()), 0u);
    const pid_t child = fork();
    if (child == 0) {
      const int log = ::open((home.path() / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(log, 1);
      dup2(log, 2);
      std::vector<char*> argv{const_cast<char*>("quorvane")};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(QuorvaneCommand().c_str(), argv.data());
      _exit(127);
    }
    const auto faults = home.path() / drive / "faults.json";
    for (int i = 0; i < 6000 && nlohmann::json::parse(ReadFile(faults))["rules"][0]["fired"] < fired; ++i) usleep(10000);
    meanwhile(child);
    EXPECT_EQ(QvDrive_SetFaults(drive.c_str(), nullptr), 0u);
    int status = 0;
    waitpid(child, &status, 0);
    out = ReadFile(home.path() / "out.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // cd-info's reading of a cue sheet in the home and its image.
  std::string CdInfo(const std::string& cue) {
    std::string info;
    EXPECT_EQ(InHome("cd-info --no-header --no-device-info --no-cddb --cue-file " + At(cue), &info), 0) << info;
    return info;
  }

  TempDir home;
  ScopedEnv homeVariable{"QUORVANE_VDRIVE_HOME", home.path().string().c_str()};
  std::string out;
};

}  // namespace qvtest
