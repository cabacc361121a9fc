#include "vdrive/faults.h"

#include <algorithm>
#include <string>

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
    {FaultKind::Short, "short"},
    {FaultKind::Corrupt, "corrupt"},
};

bool EditsData(FaultKind k) { return k == FaultKind::Short || k == FaultKind::Corrupt; }

// [byte, value] or [byte, value, mask]: a byte of the CDB or of the data out.
void ReadByteMatch(const json& rule, const char* key, uint64_t lastByte, int* byte, uint8_t* value, uint8_t* mask) {
  const json* m = Member(rule, key);
  if (m == nullptr) return;
  const bool fits = m->is_array() && (m->size() == 2 || m->size() == 3) &&
                    std::all_of(m->begin(), m->end(), [](const json& v) { return v.is_number_unsigned(); }) &&
                    (*m)[0].get<uint64_t>() <= lastByte && (*m)[1].get<uint64_t>() <= 0xFF &&
                    (m->size() == 2 || (*m)[2].get<uint64_t>() <= 0xFF);
  if (!fits) throw BadJson(std::string("\"") + key + "\" must be [byte 0-" + std::to_string(lastByte) + ", value, mask]");
  *byte = (*m)[0].get<int>();
  *value = (*m)[1].get<uint8_t>();
  if (m->size() == 3) *mask = (*m)[2].get<uint8_t>();
}

bool Fires(const FaultRule& r) { return r.seen >= r.nth && (r.times == 0 || r.fired < r.times); }

}  // namespace

uint32_t AnswerEdits::Apply(uint8_t* in, uint32_t capacity, uint32_t transferred) const {
  for (const auto& [offset, bytes] : patches) {
    if (offset >= capacity) continue;
    const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(bytes.size()), capacity - offset);
    std::copy_n(bytes.begin(), n, in + offset);
    transferred = std::max(transferred, offset + n);
  }
  if (length) transferred = std::min(transferred, *length);
  return transferred;
}

std::optional<FaultAction> FaultSet::Match(const uint8_t* cdb, const uint8_t* out, uint32_t outLength,
                                           uint32_t firstBlock, uint32_t blockCount, AnswerEdits* edits,
                                           bool* mustSave) {
  std::optional<FaultAction> action;
  *mustSave = false;
  for (FaultRule& r : rules) {
    if (r.opcode >= 0 && r.opcode != cdb[0]) continue;
    if (r.cdbByte >= 0 && (cdb[r.cdbByte] & r.cdbMask) != r.cdbValue) continue;
    if (r.outByte >= 0 && (static_cast<uint32_t>(r.outByte) >= outLength || (out[r.outByte] & r.outMask) != r.outValue))
      continue;
    uint32_t lba = firstBlock;
    if (r.firstLba >= 0) {
      if (blockCount == 0) continue;
      const int64_t last = int64_t{firstBlock} + blockCount - 1;
      if (last < r.firstLba || firstBlock > r.lastLba) continue;
      lba = static_cast<uint32_t>(std::max<int64_t>(firstBlock, r.firstLba));
    }
    if (r.times != 0 && r.fired >= r.times) continue;  // spent
    if (!(r.kind == FaultKind::Busy && r.times == 0 && r.fired > 0)) *mustSave = true;
    ++r.seen;
    if (!Fires(r) || (action && !EditsData(r.kind))) continue;
    ++r.fired;
    if (r.kind == FaultKind::Short) {
      edits->length = std::min(edits->length.value_or(r.length), r.length);
    } else if (r.kind == FaultKind::Corrupt) {
      edits->patches.emplace_back(r.offset, r.bytes);
    } else {
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
    if (r.cdbByte >= 0) j["cdb"] = {r.cdbByte, r.cdbValue, r.cdbMask};
    if (r.outByte >= 0) j["out"] = {r.outByte, r.outValue, r.outMask};
    if (r.kind == FaultKind::Short) j["length"] = r.length;
    if (r.kind == FaultKind::Corrupt) {
      j["offset"] = r.offset;
      j["bytes"] = r.bytes;
    }
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
      throw BadJson("\"kind\" must be sense, busy, long-write-in-progress, unit-attention, vanish, slow, pull, short or corrupt");
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
    ReadByteMatch(rj, "cdb", 15, &r.cdbByte, &r.cdbValue, &r.cdbMask);
    ReadByteMatch(rj, "out", 0xFFFF, &r.outByte, &r.outValue, &r.outMask);
    if (r.kind == FaultKind::Short && !ReadUnsigned(rj, "length", 0, 0xFFFFFFFF, &r.length))
      throw BadJson("a short answer needs a \"length\"");
    if (r.kind == FaultKind::Corrupt) {
      const json* bytes = Member(rj, "bytes");
      ReadUnsigned(rj, "offset", 0, 0xFFFF, &r.offset);
      if (bytes == nullptr || !bytes->is_array() || bytes->empty() || bytes->size() > 4096 ||
          !std::all_of(bytes->begin(), bytes->end(),
                       [](const json& v) { return v.is_number_unsigned() && v.get<uint64_t>() <= 0xFF; }))
        throw BadJson("a corrupt answer needs \"bytes\": 1 to 4096 byte values");
      for (const json& v : *bytes) r.bytes.push_back(v.get<uint8_t>());
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
