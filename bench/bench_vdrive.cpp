// The virtual drive's cost per command and its read throughput: every
// command takes the drive folder's lock and checks whether another process
// changed the drive, so this is what a test or a burn pays per CDB.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "vdrive/qvdrive.h"

namespace {

// A drive home with one drive holding a 64 MiB image, for the process.
struct Bench {
  std::filesystem::path home;
  void* handle = nullptr;
  uint32_t blocks = 32768;
  Bench() {
    home = std::filesystem::temp_directory_path() / ("qv-bench-vdrive-" + std::to_string(getpid()));
    std::filesystem::create_directories(home);
    setenv("QUORVANE_VDRIVE_HOME", home.c_str(), 1);
    {
      std::ofstream image(home / "image.iso", std::ios::binary);
      std::vector<char> block(2048);
      for (uint32_t i = 0; i < blocks; ++i) {
        block[0] = static_cast<char>(i);
        image.write(block.data(), block.size());
      }
    }
    QvDrive_Create("bench", nullptr, nullptr);
    QvDrive_InsertImage("bench", (home / "image.iso").c_str(), nullptr);
    QvSptd_Ordinal45(u"CdRom0", 0, &handle);
    QVDRIVE_REQUEST tur{};
    tur.cdbLength = 6;
    for (int i = 0; i < 5; ++i) QvSptd_Ordinal47(handle, &tur);  // through becoming ready
  }
  ~Bench() {
    QvSptd_Ordinal46(handle);
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
  }
};

Bench& Drive() {
  static Bench bench;
  return bench;
}

void BM_TestUnitReady(benchmark::State& state) {
  void* h = Drive().handle;
  for (auto _ : state) {
    QVDRIVE_REQUEST r{};
    r.cdbLength = 6;
    benchmark::DoNotOptimize(QvSptd_Ordinal47(h, &r));
  }
}
BENCHMARK(BM_TestUnitReady);

void BM_GetConfigurationAll(benchmark::State& state) {
  void* h = Drive().handle;
  std::vector<uint8_t> buffer(4096);
  for (auto _ : state) {
    QVDRIVE_REQUEST r{};
    r.cdb[0] = 0x46;
    r.cdb[7] = 0x10;
    r.cdbLength = 10;
    r.direction = QVDRIVE_DIR_IN;
    r.buffer = buffer.data();
    r.bufferSize = static_cast<uint32_t>(buffer.size());
    benchmark::DoNotOptimize(QvSptd_Ordinal47(h, &r));
  }
}
BENCHMARK(BM_GetConfigurationAll);

// READ(10) of 30 blocks (61440 bytes, the engine's largest transfer), front to back.
void BM_Read10Sequential(benchmark::State& state) {
  Bench& b = Drive();
  std::vector<uint8_t> buffer(61440);
  uint32_t lba = 0;
  for (auto _ : state) {
    if (lba + 30 > b.blocks) lba = 0;
    QVDRIVE_REQUEST r{};
    r.cdb[0] = 0x28;
    r.cdb[2] = static_cast<uint8_t>(lba >> 24);
    r.cdb[3] = static_cast<uint8_t>(lba >> 16);
    r.cdb[4] = static_cast<uint8_t>(lba >> 8);
    r.cdb[5] = static_cast<uint8_t>(lba);
    r.cdb[8] = 30;
    r.cdbLength = 10;
    r.direction = QVDRIVE_DIR_IN;
    r.buffer = buffer.data();
    r.bufferSize = static_cast<uint32_t>(buffer.size());
    benchmark::DoNotOptimize(QvSptd_Ordinal47(b.handle, &r));
    lba += 30;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 61440);
}
BENCHMARK(BM_Read10Sequential);

// Loading a disc image: a sparse copy into the drive folder.
void BM_InsertImage64MiB(benchmark::State& state) {
  Bench& b = Drive();
  const std::string image = (b.home / "image.iso").string();
  for (auto _ : state) benchmark::DoNotOptimize(QvDrive_InsertImage("bench", image.c_str(), nullptr));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * b.blocks * 2048);
}
BENCHMARK(BM_InsertImage64MiB)->Unit(benchmark::kMillisecond);

}  // namespace
