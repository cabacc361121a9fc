// The engine's C entry points on a virtual drive named CdRom0: an engine
// started afresh, a drive home of the test's own in virtual time, the log,
// one handle and the status record each call fills. Tests that include
// this link quorvane_vdrive_static.
#pragma once
#include "core/engine_fixture.h"
#include "support/vdrive_fixture.h"

namespace qvtest {

struct CallStatus {
  char text[1024] = {};
  QV_ULONG systemError = 0;
  CDB_FAILURE_INFORMATION failure{};
};
#define QV_STATUS(s) (s).text, sizeof (s).text, &(s).systemError, &(s).failure

class EngineDrive : public EngineState {
 protected:
  void SetUp() override {
    EngineState::SetUp();
    ASSERT_EQ(Quorvane_UpStartEx(), 0u);
  }
  void TearDown() override {
    if (handle) Quorvane_CdvdBurnerGrabber_Destroy(&handle);
    EngineState::TearDown();
  }
  // The drive (the device name it serves), with a blank disc of the medium
  // or an empty tray.
  void Make(const char* media, const char* model = nullptr) {
    ASSERT_EQ(QvDrive_Create("CdRom0", media, model), 0u);
  }
  QV_ULONG Open(QV_ULONG cacheMB = 1, PQUORVANE_CALLBACK cb = nullptr, void* context = nullptr) {
    return Quorvane_CdvdBurnerGrabber_CreateEx(&handle, QV_STATUS(s), cb, context, "CdRom0", cacheMB);
  }

  VirtualDriveHome home;
  LogCapture log;
  QV_HANDLE handle = nullptr;
  CallStatus s;
};

}  // namespace qvtest
