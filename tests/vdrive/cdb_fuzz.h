// One fuzz input as a command to a virtual drive: the first bytes pick the
// CDB length, the direction and the buffer size, the rest is the CDB and
// any data going out. Shared by the libFuzzer target and the test that
// runs it over pseudo-random inputs.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qvtest {

// Makes a drive home with drives in several states, once per process.
void PrepareFuzzDrives();
// nullptr when all went well, else what went wrong.
const char* RunCdbFuzzInput(const uint8_t* data, size_t size);
// The same for the JSON readers of the drive folder's files: whatever a
// reader accepts, it writes back in a form it reads the same.
const char* RunJsonFuzzInput(const uint8_t* data, size_t size);

}  // namespace qvtest
