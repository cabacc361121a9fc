// A fuzz target's body outside libFuzzer, for the builds that have no
// libFuzzer (gcc, the sanitizer runs, CI): every seed as it is, then a fixed
// set of mutants of each (bits flipped, bytes set to edge values, cut short,
// grown, a stretch repeated). The same inputs every run, so a failure here
// names an input that can be replayed.
//
//   fuzz_X [-max_len=N] [-mutants=N] SEED_FILE_OR_FOLDER...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

void AddSeed(const std::filesystem::path& path, std::vector<Bytes>& seeds) {
  std::ifstream in(path, std::ios::binary);
  seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Mutate(Bytes& b, size_t maxLen, std::mt19937& rng) {
  static const uint8_t kEdges[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
  for (int n = 1 + static_cast<int>(rng() % 4); n > 0; --n) {
    switch (b.empty() ? 3 : rng() % 5) {
      case 0: b[rng() % b.size()] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
      case 1: b[rng() % b.size()] = kEdges[rng() % std::size(kEdges)]; break;
      case 2: b.resize(rng() % b.size()); break;
      case 3: {  // grow with random bytes
        const size_t at = b.empty() ? 0 : rng() % (b.size() + 1);
        Bytes more(1 + rng() % 64);
        for (auto& x : more) x = static_cast<uint8_t>(rng());
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), more.begin(), more.end());
        break;
      }
      default: {  // repeat a stretch
        const size_t from = rng() % b.size(), len = 1 + rng() % std::min<size_t>(b.size() - from, 256);
        const Bytes stretch(b.begin() + static_cast<std::ptrdiff_t>(from),
                            b.begin() + static_cast<std::ptrdiff_t>(from + len));
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(rng() % (b.size() + 1)), stretch.begin(), stretch.end());
      }
    }
  }
  if (b.size() > maxLen) b.resize(maxLen);
}

// As libFuzzer does, never a null pointer, even for no bytes.
void Run(const Bytes& input) {
  static const uint8_t kNothing = 0;
  LLVMFuzzerTestOneInput(input.empty() ? &kNothing : input.data(), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  size_t maxLen = 1 << 20, mutants = 200;
  std::vector<Bytes> seeds;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("-max_len=", 0) == 0) {
      maxLen = std::strtoul(arg.c_str() + 9, nullptr, 10);
    } else if (arg.rfind("-mutants=", 0) == 0) {
      mutants = std::strtoul(arg.c_str() + 9, nullptr, 10);
    } else if (std::filesystem::is_directory(arg)) {
      std::vector<std::filesystem::path> files;
      for (const auto& e : std::filesystem::recursive_directory_iterator(arg))
        if (e.is_regular_file()) files.push_back(e.path());
      std::sort(files.begin(), files.end());
      for (const auto& f : files) AddSeed(f, seeds);
    } else if (std::filesystem::is_regular_file(arg)) {
      AddSeed(arg, seeds);
    } else {
      std::fprintf(stderr, "no seed file or folder %s\n", arg.c_str());
      return 2;
    }
  }
  if (seeds.empty()) seeds.emplace_back();  // targets that build their input from nothing
  std::mt19937 rng(20061207);
  size_t runs = 0;
  for (const Bytes& seed : seeds) {
    Bytes input(seed.begin(), seed.begin() + static_cast<std::ptrdiff_t>(std::min(seed.size(), maxLen)));
    Run(input);
    ++runs;
    for (size_t m = 0; m < mutants; ++m, ++runs) {
      input.assign(seed.begin(), seed.begin() + static_cast<std::ptrdiff_t>(std::min(seed.size(), maxLen)));
      Mutate(input, maxLen, rng);
      Run(input);
    }
  }
  std::printf("%zu inputs from %zu seeds\n", runs, seeds.size());
  return 0;
}
