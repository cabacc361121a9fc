// quorvane audio decode FILE --out FILE.wav: any supported audio file to a
// CD audio wave file (44-byte header, 44100 Hz, stereo, 16-bit).
#include <atomic>
#include <chrono>
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
    InterruptScope interrupts(&OnInterrupt);
    const auto start = std::chrono::steady_clock::now();
    DecodeProgress progress{ProgressBar("decode", !quiet && !global.json), size};
    status = Sonvex_CompressedFileUncompress(source.c_str(), destination.c_str(), 256 * 1024, 1, &size, &OnProgress,
                                             &progress);
    progress.bar.Finish();
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
  Outcome o = FromSystemError(status);
  if (status == 50) o.headline = "not a supported audio format (CD wave, .raw, Ogg Vorbis, FLAC, MP3)";
  if (status == 13) o.headline = "the compressed data is damaged";
  return Report("audio decode of " + source, o);
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
