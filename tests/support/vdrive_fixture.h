// Virtual drives for tests: a drive home of the test's own, virtual time,
// and the virtual drive's two doors built into the test program, so the
// engine's library loading finds them under "dtpro.dll" and "Dralik".
// Tests that include this link quorvane_vdrive_static.
#pragma once

#include "support/test_support.h"
#include "vdrive/builtin.h"
#include "vdrive/qvdrive.h"

namespace qvtest {

class VirtualDriveHome {
 public:
  const std::filesystem::path& path() const { return dir_.path(); }
  qv::plat::VirtualClock& clock() { return time_.clock(); }

 private:
  TempDir dir_;
  ScopedEnv home_{"QUORVANE_VDRIVE_HOME", dir_.path().string().c_str()};
  VirtualTime time_;
  qv::vdrive::ScopedBuiltinDrive builtin_;
};

}  // namespace qvtest
