// The fuzz entry point: one binary per target, its body chosen by a
// definition (libFuzzer with QUORVANE_FUZZ, else the seed replay).
#include <cstdio>
#include <cstdlib>

#include "cdb_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if defined(QV_FUZZ_JSON)
  const char* problem = qvtest::RunJsonFuzzInput(data, size);
#elif defined(QV_FUZZ_RAW_WRITE)
  const char* problem = qvtest::RunRawWriteFuzzInput(data, size);
#else
  const char* problem = qvtest::RunCdbFuzzInput(data, size);
#endif
  if (problem != nullptr) {
    std::fprintf(stderr, "%s\n", problem);
    std::abort();
  }
  return 0;
}
