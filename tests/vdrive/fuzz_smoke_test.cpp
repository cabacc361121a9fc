// The fuzz targets' bodies over pseudo-random inputs, so every run of the
// suite (and its sanitizer runs) exercises them.
#include <nlohmann/json.hpp>
#include <random>

#include "cdb_fuzz.h"
#include "support/test_support.h"
#include "vdrive/faults.h"
#include "vdrive/media_types.h"
#include "vdrive/model.h"
#include "vdrive/unit_state.h"

namespace qvtest {
namespace {

TEST(VdriveFuzzSmoke, RandomCommandsNeverHurtTheDrive) {
  std::mt19937 rng(20060630);
  std::vector<uint8_t> input;
  static const uint8_t kOpcodes[] = {0x00, 0x03, 0x12, 0x1B, 0x1E, 0x25, 0x28, 0x46, 0x4A, 0x55, 0x5A, 0xBE, 0x2A,
                                     0x23, 0x43, 0x51, 0x52, 0x54, 0xA4, 0xAC, 0xAD, 0xB6, 0xB9, 0xBB, 0xBD};
  for (int i = 0; i < 6000; ++i) {
    input.resize(4 + rng() % 80);
    for (auto& b : input) b = static_cast<uint8_t>(rng());
    input[2] &= 0x07;  // buffers up to 32 KiB
    if (rng() % 4 != 0) input[4] = kOpcodes[rng() % sizeof kOpcodes];
    const char* problem = RunCdbFuzzInput(input.data(), input.size());
    ASSERT_EQ(problem, nullptr) << problem << " at input " << i;
  }
}

// Valid documents with one value swapped for something else.
TEST(VdriveFuzzSmoke, DamagedDocumentsNeverHurtTheReaders) {
  using nlohmann::json;
  qv::vdrive::DriveState state;
  state.disc = qv::vdrive::Medium::WithImage(*qv::vdrive::FindMediaType("cd-r"), 1000, "x.iso");
  state.page05.assign(qv::vdrive::kPage05Length, 0);
  state.page05[0] = 5;
  qv::vdrive::FaultSet faults;
  faults.rules.resize(2);
  faults.rules[1].firstLba = 3;
  faults.rules[1].lastLba = 9;
  const std::vector<json> bases = {qv::vdrive::ModelToJson(qv::vdrive::DefaultModel()), qv::vdrive::StateToJson(state),
                                   qv::vdrive::FaultsToJson(faults)};
  const std::vector<json> values = {json(-1), json(0), json(1), json(4294967296ULL), json("x"), json::array(),
                                    json::object(), json(nullptr), json(true), json(std::string(5000, 'a')),
                                    json::array({1, 2}), json::array({"cd-r", "dvd-x"}), json(0.5)};
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) {
    json doc = bases[rng() % bases.size()];
    json::json_pointer pointer;
    // Walk down a random path, then replace what is there.
    for (json* at = &doc; at->is_structured() && !at->empty() && rng() % 4 != 0;) {
      if (at->is_object()) {
        auto it = at->begin();
        std::advance(it, rng() % at->size());
        pointer /= it.key();
        at = &*it;
      } else {
        const size_t k = rng() % at->size();
        pointer /= k;
        at = &(*at)[k];
      }
    }
    doc[pointer] = values[rng() % values.size()];
    const std::string text = doc.dump();
    const char* problem = RunJsonFuzzInput(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    ASSERT_EQ(problem, nullptr) << problem << " for " << text.substr(0, 300);
  }
}

}  // namespace
}  // namespace qvtest
