// The debug log: three levels, line length, and files that cannot be opened.
#include <cstring>

#include "core/engine_fixture.h"
#include "core/log.h"

namespace {

class Log : public EngineState {
 protected:
  qvtest::TempDir dir;
  std::string file = (dir / "engine.log").string();
  void SetUp() override {
    EngineState::SetUp();
    QuorvaneI_SetDebugFileName(file.c_str());
  }
};

struct Level {
  uint32_t level;
  bool toFile;
  bool toStdout;
};

class LogLevels : public Log, public ::testing::WithParamInterface<Level> {};

TEST_P(LogLevels, RoutesEachLine) {
  const Level& l = GetParam();
  QuorvaneI_SetDebugFacility(l.level);
  qvtest::LogCapture debugger;
  testing::internal::CaptureStdout();
  QuorvaneI_Log("\nCQuorvane_Test::Run(): ENTERed for %d\n", 7);
  QuorvaneI_Log("line %ld of %lu\n", 2L, 3UL);
  const std::string out = testing::internal::GetCapturedStdout();

  const std::string expected = "\nCQuorvane_Test::Run(): ENTERed for 7\nline 2 of 3\n";
  EXPECT_EQ(debugger.Text(), expected) << "the debugger always gets every line";
  EXPECT_EQ(qvtest::ReadFile(file), l.toFile ? qvtest::TextModeBytes(expected) : "");
  EXPECT_EQ(out, l.toStdout ? expected : "");
}

INSTANTIATE_TEST_SUITE_P(DebugFacility, LogLevels,
                         ::testing::Values(Level{0, false, false}, Level{1, true, false}, Level{2, true, true}));

TEST_F(Log, AppendsAcrossLines) {
  QuorvaneI_SetDebugFacility(1);
  qvtest::LogCapture quiet;
  dir.Write("engine.log", "earlier\n");
  QuorvaneI_Log("later\n");
  EXPECT_EQ(qvtest::ReadFile(file), "earlier\n" + qvtest::TextModeBytes("later\n"));
}

// Log lines are cut at 1023 characters; lines only for the debugger take
// up to 4095 and never reach the file.
TEST_F(Log, LongLinesAreCut) {
  QuorvaneI_SetDebugFacility(1);
  for (bool debuggerOnly : {false, true}) {
    qvtest::LogCapture debugger;
    const std::string longText(5000, 'z');
    (debuggerOnly ? QuorvaneI_DebuggerLog : QuorvaneI_Log)("%s", longText.c_str());
    EXPECT_EQ(debugger.Text().size(), debuggerOnly ? 4095u : 1023u);
    EXPECT_EQ(qvtest::ReadFile(file).size(), 1023u) << "only the first line went to the file";
  }
}

// A file that cannot be opened is skipped; its name is cut at 259.
TEST_F(Log, AFileThatCannotBeOpenedIsSkipped) {
  QuorvaneI_SetDebugFacility(1);
  QuorvaneI_SetDebugFileName(dir.path().string().c_str());  // a folder
  qvtest::LogCapture debugger;
  QuorvaneI_Log("still logged\n");
  EXPECT_EQ(debugger.Text(), "still logged\n");
  QuorvaneI_SetDebugFileName(std::string(400, 'n').c_str());
  EXPECT_EQ(QuorvaneI_GetDebugFileName().size(), 259u);
}

}  // namespace
