// The fuzz targets' bodies, for the libFuzzer binaries and their replays.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qvtest {

// A drive home of the process's own, made once, removed at exit.
const std::string& UseFuzzHome();
// Makes drives in several states in it, once per process.
void PrepareFuzzDrives();
// One input as a command to a virtual drive: the first bytes pick the CDB
// length, the direction and the buffer size, the rest is the CDB and any
// data going out.
// nullptr when all went well, else what went wrong.
const char* RunCdbFuzzInput(const uint8_t* data, size_t size);
// The same for the JSON readers of the drive folder's files: whatever a
// reader accepts, it writes back in a form it reads the same.
const char* RunJsonFuzzInput(const uint8_t* data, size_t size);
// A raw disc-at-once recording (raw_write_fuzz.cpp).
const char* RunRawWriteFuzzInput(const uint8_t* data, size_t size);

}  // namespace qvtest
