// The quorvane command run as a user runs it, with virtual drives in a home
// of the test's own.
#pragma once
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "support/test_support.h"

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
