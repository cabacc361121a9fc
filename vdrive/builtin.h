// The virtual drive built into a program instead of loaded from
// libquorvane_vdrive.so: tests link it statically and register its two
// doors under the module names the engine loads ("dtpro.dll" and
// "Dralik"), so the engine's own loading path finds it and it shares the
// engine's (virtual) clock.
#pragma once
#include "platform/dynlib.h"

namespace qv::vdrive {

// The pass-through library and the auxiliary driver, in that order.
const plat::BuiltinLibrary& PassThroughLibrary();
const plat::BuiltinLibrary& AuxiliaryDriverLibrary();

// Registers both for a scope.
class ScopedBuiltinDrive {
 public:
  ScopedBuiltinDrive() {
    plat::RegisterBuiltinLibrary(&PassThroughLibrary());
    plat::RegisterBuiltinLibrary(&AuxiliaryDriverLibrary());
  }
  ~ScopedBuiltinDrive() {
    plat::UnregisterBuiltinLibrary(&AuxiliaryDriverLibrary());
    plat::UnregisterBuiltinLibrary(&PassThroughLibrary());
  }
  ScopedBuiltinDrive(const ScopedBuiltinDrive&) = delete;
  ScopedBuiltinDrive& operator=(const ScopedBuiltinDrive&) = delete;
};

}  // namespace qv::vdrive
