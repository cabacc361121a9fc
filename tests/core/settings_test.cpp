// The process-wide switches: defaults and round trips.
#include "core/engine_fixture.h"
#include "quorvane.h"

namespace {

struct Switch {
  const char* name;
  uint32_t defaultValue;
  uint32_t (*get)();
  uint32_t (*set)(uint32_t);
};

#define QV_SWITCH(N, D)                                                                             \
  Switch {                                                                                         \
    #N, D, [] { return static_cast<uint32_t>(Quorvane_Get##N()); },                                \
        [](uint32_t v) { return static_cast<uint32_t>(Quorvane_Set##N(static_cast<QV_BOOLEAN>(v))); } \
  }

TEST_F(EngineState, SwitchesDefaultAndRoundTrip) {
  const Switch switches[] = {QV_SWITCH(EjectAfterFail, 1),          QV_SWITCH(FastReadTOC, 0),
                             QV_SWITCH(FastReadTOCLastTrack, 0),    QV_SWITCH(Padding, 1),
                             QV_SWITCH(CompatibleClose, 0),         QV_SWITCH(TestUnitReadyBeforeRead, 0),
                             QV_SWITCH(SkipNameCheck, 0)};
  for (const Switch& s : switches) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(s.get(), s.defaultValue);
    const uint32_t flipped = s.defaultValue ? 0 : 1;
    EXPECT_EQ(s.set(flipped), flipped);
    EXPECT_EQ(s.get(), flipped);
  }
}

// A time-out of zero reads back as 1000; settings survive a restart.
TEST_F(EngineState, BufferUnderrunTimeOutAndARestart) {
  EXPECT_EQ(Quorvane_SetBufferUnderrunTimeOutInMs(5000), 5000u);
  EXPECT_EQ(Quorvane_SetBufferUnderrunTimeOutInMs(0), 1000u);
  Quorvane_SetPadding(0);
  ASSERT_EQ(Quorvane_UpStartEx(), 0u);
  Quorvane_DownShut();
  EXPECT_EQ(Quorvane_GetBufferUnderrunTimeOutInMs(), 1000u);
  EXPECT_EQ(Quorvane_GetPadding(), 0);
}

}  // namespace
