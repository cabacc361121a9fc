// The process-wide settings across a restart of the engine.
#include "core/engine_fixture.h"
#include "quorvane.h"

namespace {

// A time-out of zero reads back as 1000; settings survive a restart.
TEST_F(EngineState, BufferUnderrunTimeOutAndARestart) {
  EXPECT_EQ(Quorvane_SetBufferUnderrunTimeOutInMs(5000), 5000u);
  EXPECT_EQ(Quorvane_SetBufferUnderrunTimeOutInMs(0), 1000u);
  EXPECT_EQ(Quorvane_SetPadding(0), 0);
  ASSERT_EQ(Quorvane_UpStartEx(), 0u);
  Quorvane_DownShut();
  EXPECT_EQ(Quorvane_GetBufferUnderrunTimeOutInMs(), 1000u);
  EXPECT_EQ(Quorvane_GetPadding(), 0);
}

}  // namespace
