// Fault injection: rules that make the drive answer a command with
// something other than what it would do. A rule picks commands by opcode
// (or any), optionally by one CDB byte under a mask (a READ TOC format, a
// mode page code) or of the data the host sent (a write type in a mode
// page), and, for reads, by block range; it fires at the nth
// command it matches and for a number of matching commands after that. A
// block range with times 0 is a damaged stretch of the disc: every read
// that touches it fails, with the first bad block in the sense's
// information field.
//
// The rules live in the drive folder's faults.json, so a test can arm them
// from its own process while the engine drives the disc from another.
#pragma once
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>
#include <utility>

#include "vdrive/sense.h"

namespace qv::vdrive {

enum class FaultKind : uint8_t {
  Sense,                // CHECK CONDITION with the rule's sense key and code
  Busy,                 // BUSY status, no sense
  LongWriteInProgress,  // NOT READY, 04h/08h
  UnitAttention,        // UNIT ATTENTION with the rule's code (28h/00h unless given)
  Vanish,               // the device disappears: this and every later door call fails
  Slow,                 // the command is carried out, delayMs later (the clock's sleep)
  Pull,                 // the disc is pulled out: the tray stands open, the disc in it
  // The command runs, then its answer is altered: a drive that stops
  // early, or one whose answer is garbled. Data rules all apply; they do
  // not stop a status rule from firing too.
  Short,    // the answer stops after `length` bytes; the host sees the residual
  Corrupt,  // `bytes` replace the answer's bytes from `offset` (and may extend it)
};

struct FaultRule {
  int opcode = -1;        // -1: any command
  uint32_t nth = 1;       // the first matching command that fires, from 1
  uint32_t times = 1;     // matching commands that fire from then on; 0: all of them
  int64_t firstLba = -1;  // with lastLba: only reads that touch these blocks
  int64_t lastLba = -1;
  int cdbByte = -1;       // >= 0: only commands whose CDB byte, masked, is cdbValue
  uint8_t cdbValue = 0, cdbMask = 0xFF;
  int outByte = -1;       // >= 0: only commands whose data out has this byte, masked, at outValue
  uint8_t outValue = 0, outMask = 0xFF;
  uint32_t length = 0;    // Short
  uint32_t offset = 0;    // Corrupt
  std::vector<uint8_t> bytes;
  FaultKind kind = FaultKind::Sense;
  uint8_t key = kMediumError;
  Asc code = asc::kUnrecoveredReadError;
  uint32_t delayMs = 0;  // Slow
  // Progress, kept with the rule.
  uint32_t seen = 0;      // matching commands so far
  uint32_t fired = 0;
};

// What a rule turns a command into.
struct FaultAction {
  FaultKind kind;
  uint8_t key;
  Asc code;
  uint32_t lba;  // for reads, the first faulty block
  uint32_t delayMs;
};

// What data rules do to an answer that was sent.
struct AnswerEdits {
  std::optional<uint32_t> length;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> patches;  // offset, bytes
  // Applies them to the answer in `in` (capacity bytes), of `transferred` bytes.
  uint32_t Apply(uint8_t* in, uint32_t capacity, uint32_t transferred) const;
};

class FaultSet {
 public:
  std::vector<FaultRule> rules;

  // Matches one command against the rules, counting it; the first status
  // rule that fires decides, and every data rule that fires adds its edit.
  // blocks: the command's block range when it reads or writes (first,
  // count), else count 0.
  // *mustSave tells whether the count changed what faults.json should
  // show: false when no rule matched, and when only a busy rule that fires
  // for ever counted again (a host retries BUSY thousands of times; its
  // further counts reach the file with the drive's next saved change).
  std::optional<FaultAction> Match(const uint8_t* cdb, const uint8_t* out, uint32_t outLength, uint32_t firstBlock,
                                   uint32_t blockCount, AnswerEdits* edits, bool* mustSave);
  // True when some rule still counts commands (the set changes on a match).
  bool Armed() const;
};

nlohmann::json FaultsToJson(const FaultSet& faults);
// Throws BadJson.
FaultSet FaultsFromJson(const nlohmann::json& json);

// Arms rules on a drive (appending to those it has), or removes them all.
// Results are system error numbers as in qvdrive.h.
uint32_t AddFault(const std::string& driveName, const FaultRule& rule);
uint32_t ClearFaults(const std::string& driveName);
// Brings back a drive that vanished.
uint32_t Reattach(const std::string& driveName);

}  // namespace qv::vdrive
