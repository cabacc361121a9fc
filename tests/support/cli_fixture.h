// The quorvane command run as a user runs it, with virtual drives in a home
// of the test's own.
#pragma once
#include <cstdio>
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
  void SetUp() override { SetEnvironment("QUORVANE_VDRIVE_HOME", home.path().string().c_str()); }
  void TearDown() override { SetEnvironment("QUORVANE_VDRIVE_HOME", nullptr); }
  // The command with args (shell words); its exit code, what it said in out.
  int Run(const std::string& args) { return RunCommand(QuorvaneCommand() + " " + args + " 2>&1", &out); }
  // A path under the home, quoted for the shell.
  std::string At(const std::string& name) const { return "'" + (home.path() / name).string() + "'"; }

  TempDir home;
  std::string out;
};

}  // namespace qvtest
