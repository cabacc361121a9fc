// The process-wide switches: defaults, round trips and their log lines.
#include "core/engine_fixture.h"
#include "quorvane.h"

namespace {

struct Switch {
  const char* name;
  uint32_t defaultValue;
  uint32_t (*get)();
  uint32_t (*set)(uint32_t);
  bool logged;
};

#define QV_SWITCH(N, D, LOGGED)                                                       \
  Switch {                                                                           \
    #N, D, [] { return static_cast<uint32_t>(Quorvane_Get##N()); },                  \
        [](uint32_t v) { return static_cast<uint32_t>(Quorvane_Set##N(static_cast<QV_BOOLEAN>(v))); }, \
        LOGGED                                                                      \
  }

const Switch kSwitches[] = {
    QV_SWITCH(EjectAfterFail, 1, true),
    QV_SWITCH(FastReadTOC, 0, true),
    QV_SWITCH(FastReadTOCLastTrack, 0, true),
    QV_SWITCH(Padding, 1, false),
    QV_SWITCH(CompatibleClose, 0, false),
    QV_SWITCH(TestUnitReadyBeforeRead, 0, false),
    QV_SWITCH(SkipNameCheck, 0, false),
};

class Switches : public EngineState, public ::testing::WithParamInterface<Switch> {};

TEST_P(Switches, DefaultsRoundTripsAndLogs) {
  const Switch& s = GetParam();
  qvtest::LogCapture log;
  EXPECT_EQ(s.get(), s.defaultValue);
  const uint32_t flipped = s.defaultValue ? 0 : 1;
  EXPECT_EQ(s.set(flipped), flipped);
  EXPECT_EQ(s.get(), flipped);
  const std::string getLine = std::string("\nQuorvane:Quorvane_Get") + s.name +
                              "(): ENTERed and EXITing with success, about to return " +
                              std::to_string(flipped) + "\n";
  const std::string setEnter = std::string("\nQuorvane:Quorvane_Set") + s.name + "(): ENTERed for " +
                               std::to_string(flipped) + "\n";
  const std::string setExit = std::string("\nQuorvane:Quorvane_Set") + s.name +
                              "(): EXITing with success, about to return " + std::to_string(flipped) + "\n";
  if (s.logged) {
    for (const std::string& line : {getLine, setEnter, setExit}) EXPECT_EQ(log.Count(line), 1u) << line;
  } else {
    EXPECT_EQ(log.Text(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(All, Switches, ::testing::ValuesIn(kSwitches),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineState, BufferUnderrunTimeOutOfZeroReadsBackAs1000) {
  EXPECT_EQ(Quorvane_GetBufferUnderrunTimeOutInMs(), 1000u);
  EXPECT_EQ(Quorvane_SetBufferUnderrunTimeOutInMs(5000), 5000u);
  EXPECT_EQ(Quorvane_GetBufferUnderrunTimeOutInMs(), 5000u);
  qvtest::LogCapture log;
  EXPECT_EQ(Quorvane_SetBufferUnderrunTimeOutInMs(0), 1000u);
  EXPECT_EQ(Quorvane_GetBufferUnderrunTimeOutInMs(), 1000u);
  EXPECT_EQ(log.Count("\nQuorvane:Quorvane_SetBufferUnderrunTimeOutInMs(): ENTERed for 1000\n"), 1u);
}

TEST_F(EngineState, SettingsSurviveStartUpAndShutDown) {
  Quorvane_SetPadding(0);
  ASSERT_EQ(Quorvane_UpStartEx(), 0u);
  Quorvane_DownShut();
  EXPECT_EQ(Quorvane_GetPadding(), 0);
}

}  // namespace
