// Puts the engine's process-wide state back to its defaults around a test.
#pragma once
#include "core/log.h"
#include "core/settings.h"
#include "core/startup.h"
#include "platform/settings.h"
#include "platform/sysinfo.h"
#include "support/test_support.h"

class EngineState : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    Quorvane_DownShut();
    QuorvaneI_ResetStarted();
    QuorvaneI_ResetSettings();
    QuorvaneI_SetDebugFacility(0);
    QuorvaneI_SetDebugFileName(qv::plat::DefaultLogFilePath("Quorvane").c_str());
    qv::plat::SetSettingsReader({});
    qv::plat::SetOsVersionOverride(std::nullopt);
  }
};
