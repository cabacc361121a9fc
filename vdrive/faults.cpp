#include "vdrive/faults.h"

#include <algorithm>

#include "vdrive/json_util.h"

namespace qv::vdrive {

using nlohmann::json;

namespace {

struct KindName {
  FaultKind kind;
  const char* name;
};
constexpr KindName kKinds[] = {
    {FaultKind::Sense, "sense"},
    {FaultKind::Busy, "busy"},
    {FaultKind::LongWriteInProgress, "long-write-in-progress"},
    {FaultKind::UnitAttention, "unit-attention"},
    {FaultKind::Vanish, "vanish"},
    {FaultKind::Slow, "slow"},
    {FaultKind::Pull, "pull"},
};

bool Fires(const FaultRule& r) { return r.seen >= r.nth && (r.times == 0 || r.fired < r.times); }

}  // namespace

std::optional<FaultAction> FaultSet::Match(uint8_t opcode, uint32_t firstBlock, uint32_t blockCount) {
  std::optional<FaultAction> action;
  for (FaultRule& r : rules) {
    if (r.opcode >= 0 && r.opcode != opcode) continue;
    uint32_t lba = firstBlock;
    if (r.firstLba >= 0) {
      if (blockCount == 0) continue;
      const int64_t last = int64_t{firstBlock} + blockCount - 1;
      if (last < r.firstLba || firstBlock > r.lastLba) continue;
      lba = static_cast<uint32_t>(std::max<int64_t>(firstBlock, r.firstLba));
    }
    if (r.times != 0 && r.fired >= r.times) continue;  // spent
    ++r.seen;
    if (!action && Fires(r)) {
      ++r.fired;
      action = FaultAction{r.kind, r.key, r.code, lba, r.delayMs};
    }
  }
  return action;
}

bool FaultSet::Armed() const {
  for (const FaultRule& r : rules)
    if (r.times == 0 || r.fired < r.times) return true;
  return false;
}

json FaultsToJson(const FaultSet& faults) {
  json rules = json::array();
  for (const FaultRule& r : faults.rules) {
    json j{{"nth", r.nth}, {"times", r.times}, {"seen", r.seen}, {"fired", r.fired}};
    if (r.opcode >= 0) j["opcode"] = r.opcode;
    if (r.firstLba >= 0) j["lba"] = {r.firstLba, r.lastLba};
    for (const auto& k : kKinds)
      if (k.kind == r.kind) j["kind"] = k.name;
    if (r.kind == FaultKind::Sense || r.kind == FaultKind::UnitAttention)
      j["sense"] = {r.key, r.code.code, r.code.qualifier};
    if (r.kind == FaultKind::Slow) j["ms"] = r.delayMs;
    rules.push_back(j);
  }
  return json{{"rules", rules}};
}

FaultSet FaultsFromJson(const json& j) {
  FaultSet faults;
  const json* rules = Member(j, "rules");
  if (rules == nullptr) return faults;
  if (!rules->is_array() || rules->size() > 64) throw BadJson("\"rules\" must be a list of up to 64 rules");
  for (const json& rj : *rules) {
    FaultRule r;
    std::string kind;
    if (!ReadText(rj, "kind", 32, &kind)) throw BadJson("each rule needs a \"kind\"");
    bool known = false;
    for (const auto& k : kKinds)
      if (kind == k.name) {
        r.kind = k.kind;
        known = true;
      }
    if (!known)
      throw BadJson("\"kind\" must be sense, busy, long-write-in-progress, unit-attention, vanish, slow or pull");
    uint8_t opcode;
    if (ReadUnsigned(rj, "opcode", 0, 255, &opcode)) r.opcode = opcode;
    ReadUnsigned(rj, "nth", 1, 0xFFFFFFFF, &r.nth);
    ReadUnsigned(rj, "times", 0, 0xFFFFFFFF, &r.times);
    ReadUnsigned(rj, "seen", 0, 0xFFFFFFFF, &r.seen);
    ReadUnsigned(rj, "fired", 0, 0xFFFFFFFF, &r.fired);
    // A minute at most: a slow drive, not a hung one.
    if (r.kind == FaultKind::Slow && !ReadUnsigned(rj, "ms", 1, 60000, &r.delayMs))
      throw BadJson("a slow rule needs \"ms\", 1 to 60000");
    if (const json* lba = Member(rj, "lba")) {
      if (!lba->is_array() || lba->size() != 2 || !(*lba)[0].is_number_unsigned() || !(*lba)[1].is_number_unsigned() ||
          (*lba)[0].get<uint64_t>() > (*lba)[1].get<uint64_t>() || (*lba)[1].get<uint64_t>() > 0xFFFFFFFFu)
        throw BadJson("\"lba\" must be [first, last] block numbers");
      r.firstLba = (*lba)[0].get<int64_t>();
      r.lastLba = (*lba)[1].get<int64_t>();
    }
    if (r.kind == FaultKind::UnitAttention) {
      r.key = kUnitAttention;
      r.code = asc::kMediumMayHaveChanged;
    }
    if (const json* sense = Member(rj, "sense")) {
      if (!sense->is_array() || sense->size() != 3) throw BadJson("\"sense\" must be [key, code, qualifier]");
      for (size_t i = 0; i < 3; ++i)
        if (!(*sense)[i].is_number_unsigned() || (*sense)[i].get<uint64_t>() > (i == 0 ? 0x0F : 0xFF))
          throw BadJson("\"sense\" must be [key 0-15, code 0-255, qualifier 0-255]");
      r.key = (*sense)[0].get<uint8_t>();
      r.code = Asc{(*sense)[1].get<uint8_t>(), (*sense)[2].get<uint8_t>()};
      if (r.kind == FaultKind::UnitAttention) r.key = kUnitAttention;
    }
    faults.rules.push_back(r);
  }
  return faults;
}

}  // namespace qv::vdrive
