// quorvane audio decode FILE --out FILE.wav: any supported audio file to a
// CD audio wave file (44-byte header, 44100 Hz, stereo, 16-bit).
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>

#include "common.h"

namespace qvcli {
namespace {

std::atomic<bool> g_interrupted{false};
void OnInterrupt(int) { g_interrupted = true; }

struct DecodeProgress {
  ProgressBar bar;
  uint64_t total;
};

QV_ULONG QUORVANE_CALL OnProgress(QV_ULONG, QV_ULONG percent, void* context) {
  auto* p = static_cast<DecodeProgress*>(context);
  p->bar.Update(p->total * percent / 100, p->total);
  return g_interrupted ? 1 : 0;  // the library then removes what it wrote
}

int ExitCodeForStatus(uint32_t status) {
  switch (status) {
    case 2:
    case 3: return kExitNotFound;
    case 50:
    case 87:
    case 126:
    case 223:
    case SONVEX_STATUS_STREAM_SHAPE: return kExitUnsupported;
    case 1223: return kExitCancelled;
    default: return kExitSystemError;
  }
}

const char* Explain(uint32_t status) {
  switch (status) {
    case 2: return "no such file";
    case 3: return "no such folder";
    case 5: return "access denied";
    case 13: return "the compressed data is damaged";
    case 50: return "not a supported audio format (CD wave, .raw, Ogg Vorbis, FLAC, MP3)";
    case 87: return "invalid argument";
    case 112: return "the disk is full";
    case 223: return "the decoded stream is too long for a wave file";
    case 1223: return "cancelled";
    case SONVEX_STATUS_STREAM_SHAPE: return "only 2 channels at 44100 Hz are accepted for this format";
    default: return "system error";
  }
}

int Decode(const GlobalOptions& global, const std::string& source, const std::string& destination, bool quiet) {
  EngineSession engine;  // also starts the audio library
  PSONVEX_COMPRESSED_FILE_READER_OBJECT reader = nullptr;
  uint32_t status = Sonvex_CompressedFileReaderObjectCreate(&reader, source.c_str());
  QV_ULONG size = 0;
  if (status == 0) {
    status = Sonvex_CompressedFileReaderObjectUncompressedSizeGet(reader, &size);
    Sonvex_CompressedFileReaderObjectDestroy(&reader);
  }
  if (status == 0) {
    g_interrupted = false;
    auto previous = std::signal(SIGINT, &OnInterrupt);
    const auto start = std::chrono::steady_clock::now();
    DecodeProgress progress{ProgressBar("decode", !quiet && !global.json), size};
    status = Sonvex_CompressedFileUncompress(source.c_str(), destination.c_str(), 256 * 1024, 1, &size, &OnProgress,
                                             &progress);
    progress.bar.Finish();
    std::signal(SIGINT, previous);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status == 0) {
      const double audioSeconds = size / 176400.0;
      if (global.json) {
        PrintJson({{"source", source},
                   {"destination", destination},
                   {"bytes", size},
                   {"audioSeconds", audioSeconds},
                   {"cdSpeed", seconds > 0 ? audioSeconds / seconds : 0.0}});
      } else {
        std::printf("%s: %u bytes of CD audio (%.2f s) written to %s\n", source.c_str(), size, audioSeconds,
                    destination.c_str());
      }
      return kExitOk;
    }
  }
  std::fprintf(stderr, "quorvane: audio decode of %s failed: %s (status %u, 0x%08X)\n", source.c_str(), Explain(status),
               status, status);
  return ExitCodeForStatus(status);
}

RegisterCommand reg({"audio", "Decode compressed audio into CD audio",
                     [](CLI::App& sub, const GlobalOptions& global) -> std::function<int()> {
                       sub.require_subcommand(1);
                       CLI::App* decode = sub.add_subcommand("decode", "Any supported audio file to a CD audio wave file");
                       auto source = std::make_shared<std::string>();
                       auto destination = std::make_shared<std::string>();
                       auto quiet = std::make_shared<bool>(false);
                       decode->add_option("FILE", *source, "Wave, .raw, Ogg Vorbis, FLAC or MP3 file")->required();
                       decode->add_option("--out,-o", *destination, "The wave file to write")->required();
                       decode->add_flag("--quiet,-q", *quiet, "No progress bar");
                       return [&global, source, destination, quiet] {
                         return Decode(global, *source, *destination, *quiet);
                       };
                     }});

}  // namespace
}  // namespace qvcli
