// --progress=json as a front end reads it: every line on standard error
// that opens with a brace is one JSON object, the work reaches 100% of its
// bytes, and the last object ends the stream with the result.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
const std::string kQuorvane = std::string(QUORVANE_BINARY_DIR) + "/cli/quorvane";

std::vector<nlohmann::json> Objects(const std::string& err) {
  std::vector<nlohmann::json> objects;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line[0] == '{') objects.push_back(nlohmann::json::parse(line));  // throws on a bad line
  return objects;
}

TEST(CliProgress, JsonLinesReachTheEndAndTellTheResult) {
  qvtest::TempDir home;
  home.Write("src/a.bin", std::string(3 << 20, 'q'));
  const std::string env = "QUORVANE_VDRIVE_HOME='" + home.path().string() + "' ";
  std::string out;
  ASSERT_EQ(qvtest::RunCommand(env + kQuorvane + " vdrive create d --media cd-r && " + env + kQuorvane +
                                   " vdrive create e && " + env + kQuorvane + " vdrive eject e",
                               &out),
            0)
      << out;
  const struct {
    std::string args;
    const char* phase;  // the phase that must reach 100%, or null
    int exit;
  } cases[] = {
      {"image iso --out '" + (home / "x.iso").string() + "' '" + (home / "src").string() + "'", "image", 0},
      {"--json burn --drive d '" + (home / "src").string() + "'", "Writing", 0},
      {"burn --drive e '" + (home / "src").string() + "'", nullptr, 4},
  };
  for (const auto& c : cases) {
    const fs::path err = home / "err.txt";
    const int exit = qvtest::RunCommand("(" + env + kQuorvane + " --progress=json " + c.args + " 2>'" + err.string() + "')", &out);
    EXPECT_EQ(exit, c.exit) << c.args;
    std::vector<nlohmann::json> objects;
    ASSERT_NO_THROW(objects = Objects(qvtest::ReadFile(err))) << qvtest::ReadFile(err);
    ASSERT_FALSE(objects.empty()) << c.args;
    EXPECT_EQ(objects.back()["phase"], "end") << c.args;
    EXPECT_EQ(objects.back()["exitCode"], c.exit) << c.args;
    EXPECT_EQ(objects.back().contains("error"), c.exit != 0) << objects.back().dump();
    if (c.phase == nullptr) continue;
    bool whole = false;
    for (const auto& o : objects)
      whole |= o["phase"] == c.phase && o["percent"] == 100.0 && o["bytes"] == o["totalBytes"] && o["bytes"] > 0;
    EXPECT_TRUE(whole) << c.args << "\n" << qvtest::ReadFile(err);
  }
}

// Blanking and formatting count no bytes: their percent is the drive's own
// progress indication, rising from the first answer to 100 at the end.
TEST(CliProgress, EraseAndFormatReportTheDrivesProgress) {
  qvtest::TempDir home;
  const std::string env = "QUORVANE_VDRIVE_HOME='" + home.path().string() + "' ";
  const struct {
    const char* media;
    const char* command;
    const char* phase;
  } cases[] = {
      {"cd-rw", "erase", "erasing"},
      {"dvd-rw", "format", "formatting"},
  };
  for (const auto& c : cases) {
    std::string out;
    ASSERT_EQ(qvtest::RunCommand(env + kQuorvane + " vdrive create " + c.media + " --media " + c.media, &out), 0) << out;
    const fs::path err = home / "err.txt";
    EXPECT_EQ(qvtest::RunCommand("(" + env + kQuorvane + " --progress=json " + c.command + " --drive " + c.media +
                                     " 2>'" + err.string() + "')",
                                 &out),
              0)
        << out << qvtest::ReadFile(err);
    std::vector<double> percents;
    for (const auto& o : Objects(qvtest::ReadFile(err))) {
      if (o["phase"] != c.phase || !o.contains("percent")) continue;
      percents.push_back(o["percent"].get<double>());
      EXPECT_TRUE(o["bytes"].is_null()) << o.dump();
    }
    const std::string seen = qvtest::ReadFile(err);
    ASSERT_GE(percents.size(), 2u) << c.command << "\n" << seen;
    EXPECT_LT(percents.front(), 100.0) << seen;
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << seen;
    EXPECT_EQ(percents.back(), 100.0) << seen;
  }
}

}  // namespace
