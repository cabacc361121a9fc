// --progress=json as a front end reads it: every line on standard error
// that opens with a brace is one JSON object, the work reaches 100% of its
// bytes, and the last object ends the stream with the result.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/cli_fixture.h"

namespace {

namespace fs = std::filesystem;

class CliProgress : public qvtest::CliTest {
 protected:
  // The objects the command wrote to standard error with --progress=json.
  std::vector<nlohmann::json> Progress(const std::string& args, int exit) {
    const fs::path err = home / "err.txt";
    EXPECT_EQ(qvtest::RunCommand("(" + qvtest::QuorvaneCommand() + " --progress=json " + args + " 2>'" + err.string() + "')", &out),
              exit) << args << "\n" << qvtest::ReadFile(err);
    seen = qvtest::ReadFile(err);
    std::vector<nlohmann::json> objects;
    std::istringstream lines(seen);
    for (std::string line; std::getline(lines, line);)
      if (!line.empty() && line[0] == '{') objects.push_back(nlohmann::json::parse(line, nullptr, false));
    for (const auto& o : objects) EXPECT_FALSE(o.is_discarded()) << seen;
    return objects;
  }
  std::string seen;
};

TEST_F(CliProgress, JsonLinesReachTheEndAndTellTheResult) {
  home.Write("src/a.bin", std::string(3 << 20, 'q'));
  ASSERT_EQ(Run("vdrive create d --media cd-r"), 0) << out;
  ASSERT_EQ(Run("vdrive create e"), 0) << out;
  ASSERT_EQ(Run("vdrive eject e"), 0) << out;
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
    const std::vector<nlohmann::json> objects = Progress(c.args, c.exit);
    ASSERT_FALSE(objects.empty()) << c.args;
    EXPECT_EQ(objects.back()["phase"], "end") << c.args;
    EXPECT_EQ(objects.back()["exitCode"], c.exit) << c.args;
    EXPECT_EQ(objects.back().contains("error"), c.exit != 0) << objects.back().dump();
    if (c.phase == nullptr) continue;
    bool whole = false;
    for (const auto& o : objects)
      whole |= o["phase"] == c.phase && o["percent"] == 100.0 && o["bytes"] == o["totalBytes"] && o["bytes"] > 0;
    EXPECT_TRUE(whole) << c.args << "\n" << seen;
  }
}

// Blanking and formatting count no bytes: their percent is the drive's own
// progress indication, rising from the first answer to 100 at the end.
TEST_F(CliProgress, EraseAndFormatReportTheDrivesProgress) {
  const struct {
    const char* media;
    const char* command;
    const char* phase;
  } cases[] = {
      {"cd-rw", "erase", "erasing"},
      {"dvd-rw", "format", "formatting"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Run(std::string("vdrive create ") + c.media + " --media " + c.media), 0) << out;
    std::vector<double> percents;
    for (const auto& o : Progress(std::string(c.command) + " --drive " + c.media, 0)) {
      if (o["phase"] != c.phase || !o.contains("percent")) continue;
      percents.push_back(o["percent"].get<double>());
      EXPECT_TRUE(o["bytes"].is_null()) << o.dump();
    }
    ASSERT_GE(percents.size(), 2u) << c.command << "\n" << seen;
    EXPECT_LT(percents.front(), 100.0) << seen;
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << seen;
    EXPECT_EQ(percents.back(), 100.0) << seen;
  }
}

}  // namespace
