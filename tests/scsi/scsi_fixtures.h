// Helpers of the transport and command tests.
#pragma once
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "core/exception.h"
#include "platform/dynlib.h"
#include "scsi/transport.h"
#include "support/test_support.h"
#include "vdrive/qvdrive.h"

namespace scsitest {

// Runs body and hands back the engine exception it threw (nullptr when it
// returned normally).
inline std::unique_ptr<CQuorvane_Exception> Catch(const std::function<void()>& body) {
  try {
    body();
  } catch (CQuorvane_Exception* e) {
    return std::unique_ptr<CQuorvane_Exception>(e);
  }
  return nullptr;
}

// Runs body, which must throw exception `number`, and hands that exception
// back; otherwise the test fails, and a stand-in (with an empty failure
// record for 8) lets the checks after it run.
inline std::unique_ptr<CQuorvane_Exception> Fails(uint32_t number, const std::function<void()>& body) {
  auto e = Catch(body);
  if (e == nullptr) {
    ADD_FAILURE() << "no exception, expected " << number;
  } else if (e->Number() != number) {
    ADD_FAILURE() << "exception " << e->Number() << " (" << e->Text() << "), expected " << number;
  } else {
    return e;
  }
  const uintptr_t failure = number == 8 ? reinterpret_cast<uintptr_t>(QuorvaneI_NewFailureInformation()) : 0;
  return std::make_unique<CQuorvane_Exception>(number, failure, "(none)");
}

// One answer of a scripted drive.
struct Answer {
  uint8_t status = 0;  // SCSI status
  uint8_t key = 0, asc = 0, ascq = 0;
  uint32_t doorError = 0;  // the door itself failed with this system error
};
inline Answer Check(uint8_t key, uint8_t asc, uint8_t ascq) { return Answer{2, key, asc, ascq}; }

using qvtest::ScopedEnv;

// A stand-in library, registered under its module name for a scope.
class ScopedBuiltinLibrary {
 public:
  explicit ScopedBuiltinLibrary(const qv::plat::BuiltinLibrary* library) : library_(library) {
    qv::plat::RegisterBuiltinLibrary(library_);
  }
  ~ScopedBuiltinLibrary() { qv::plat::UnregisterBuiltinLibrary(library_); }

 private:
  const qv::plat::BuiltinLibrary* library_;
};

}  // namespace scsitest
