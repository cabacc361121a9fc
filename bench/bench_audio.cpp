// Decode throughput of the audio library, per format, as multiples of CD
// speed (176400 bytes of PCM per second): the "xCD" counter. Streams of a
// minute are made first (the wave and Ogg Vorbis ones by the library's own
// writer); the FLAC and MP3 fixtures are short and are decoded many times.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "quorvane.h"

namespace {

namespace fs = std::filesystem;

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / "quorvane-bench-audio";
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// One minute of 440 Hz left, 880 Hz right.
const std::string& MinuteWave() {
  static const std::string path = [] {
    const uint32_t frames = 60 * 44100;
    std::vector<uint8_t> data(44 + frames * 4);
    Sonvex_WaveFileHeaderFormat(reinterpret_cast<PSONVEX_WAVE_FILE_HEADER>(data.data()), frames * 4);
    for (uint32_t i = 0; i < frames; ++i) {
      for (int c = 0; c < 2; ++c) {
        const auto v = static_cast<int16_t>(12000 * std::sin(2 * M_PI * (440.0 * (c + 1)) * i / 44100.0));
        data[44 + 4 * i + 2 * c] = static_cast<uint8_t>(v);
        data[44 + 4 * i + 2 * c + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
      }
    }
    const std::string p = (WorkDir() / "minute.wav").string();
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return p;
  }();
  return path;
}

const std::string& MinuteOgg() {
  static const std::string path = [] {
    const std::string p = (WorkDir() / "minute.ogg").string();
    if (Sonvex_UncompressedFileCompress(MinuteWave().c_str(), p.c_str(), 1 << 20, nullptr, nullptr,
                                        SONVEX_COMPRESSION_DEFAULT) != 0)
      return std::string();
    return p;
  }();
  return path;
}

std::string Fixture(const char* name) { return std::string(QUORVANE_SOURCE_DIR) + "/tests/audio/fixtures/" + name; }

void Decode(benchmark::State& state, const std::string& path) {
  if (path.empty()) {
    state.SkipWithError("the input could not be made");
    return;
  }
  std::vector<uint8_t> sector(2352 * 16);  // what the file sources ask for at a time
  uint64_t bytes = 0;
  for (auto _ : state) {
    PSONVEX_COMPRESSED_FILE_READER_OBJECT reader = nullptr;
    QV_ULONG size = 0;
    if (Sonvex_CompressedFileReaderObjectCreate(&reader, path.c_str()) != 0 ||
        Sonvex_CompressedFileReaderObjectUncompressedSizeGet(reader, &size) != 0) {
      state.SkipWithError("the input does not open");
      break;
    }
    for (QV_ULONG done = 0; done < size; done += static_cast<QV_ULONG>(sector.size())) {
      const QV_ULONG n = std::min<QV_ULONG>(static_cast<QV_ULONG>(sector.size()), size - done);
      Sonvex_CompressedFileReaderObjectRead(reader, sector.data(), n);
    }
    benchmark::DoNotOptimize(sector.data());
    Sonvex_CompressedFileReaderObjectDestroy(&reader);
    bytes += size;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["xCD"] = benchmark::Counter(static_cast<double>(bytes) / 176400.0, benchmark::Counter::kIsRate);
}

void BM_DecodeWave(benchmark::State& state) { Decode(state, MinuteWave()); }
void BM_DecodeOggVorbis(benchmark::State& state) { Decode(state, MinuteOgg()); }
void BM_DecodeFlac(benchmark::State& state) { Decode(state, Fixture("tone.flac")); }
void BM_DecodeMp3Resampled48k(benchmark::State& state) { Decode(state, Fixture("tone-48k.mp3")); }
void BM_DecodeMp3Resampled22kMono(benchmark::State& state) { Decode(state, Fixture("tone-22k-mono-id3.mp3")); }

BENCHMARK(BM_DecodeWave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOggVorbis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFlac)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeMp3Resampled48k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeMp3Resampled22kMono)->Unit(benchmark::kMillisecond);

}  // namespace
