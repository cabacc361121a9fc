// The debug log: where each level sends a line, and files that cannot be
// opened.
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

// The debugger gets every line; the file (appended to) from level 1, the
// standard output from level 2.
TEST_F(Log, EachLevelRoutesEachLine) {
  for (const auto& [level, toFile, toStdout] : {std::tuple{0u, false, false}, {1u, true, false}, {2u, true, true}}) {
    SCOPED_TRACE(level);
    QuorvaneI_SetDebugFacility(level);
    dir.Write("engine.log", "earlier\n");
    qvtest::LogCapture debugger;
    testing::internal::CaptureStdout();
    QuorvaneI_Log("\nCQuorvane_Test::Run(): ENTERed for %d\n", 7);
    QuorvaneI_Log("line %ld of %lu\n", 2L, 3UL);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string expected = "\nCQuorvane_Test::Run(): ENTERed for 7\nline 2 of 3\n";
    EXPECT_EQ(debugger.Text(), expected);
    EXPECT_EQ(qvtest::ReadFile(file), "earlier\n" + (toFile ? qvtest::TextModeBytes(expected) : ""));
    EXPECT_EQ(out, toStdout ? expected : "");
  }
}

TEST_F(Log, AFileThatCannotBeOpenedIsSkipped) {
  QuorvaneI_SetDebugFacility(1);
  QuorvaneI_SetDebugFileName(dir.path().string().c_str());  // a folder
  qvtest::LogCapture debugger;
  QuorvaneI_Log("still logged\n");
  EXPECT_EQ(debugger.Text(), "still logged\n");
}

}  // namespace
