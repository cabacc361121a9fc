// Each fuzz target's body over its seeds and mutations of them, so every
// run of the suite (and its sanitizer runs) exercises it; the fuzzers
// themselves (make fuzz) go further.
#include <filesystem>
#include <random>

#include "cdb_fuzz.h"
#include "support/test_support.h"

namespace qvtest {
namespace {

TEST(VdriveFuzzSmoke, SeedsAndTheirMutations) {
  const struct {
    const char* seeds;
    const char* (*run)(const uint8_t*, size_t);
    int mutations;  // per seed
  } targets[] = {{"cdb", RunCdbFuzzInput, 400}, {"json", RunJsonFuzzInput, 400}, {"raw_write", RunRawWriteFuzzInput, 12}};
  std::mt19937 rng(20060630);
  for (const auto& t : targets) {
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(QUORVANE_FUZZ_SEEDS) / t.seeds)) {
      const std::string seed = ReadFile(entry.path());
      ++seeds;
      for (int i = 0; i <= t.mutations; ++i) {
        std::string input = seed;  // the seed itself first, then a few bytes changed, some cut short
        for (int n = i == 0 || input.empty() ? 0 : 1 + int(rng() % 4); n > 0; --n) input[rng() % input.size()] = char(rng());
        if (i % 5 == 4) input.resize(rng() % (input.size() + 1));
        const char* problem = t.run(reinterpret_cast<const uint8_t*>(input.data()), input.size());
        ASSERT_EQ(problem, nullptr) << problem << " from " << entry.path() << " mutation " << i;
      }
    }
    EXPECT_GT(seeds, 0) << t.seeds;
  }
}

}  // namespace
}  // namespace qvtest
