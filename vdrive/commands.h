// The command dispatcher: one table entry per opcode, and what every
// command handler works with.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "vdrive/sense.h"
#include "vdrive/store.h"

namespace qv::vdrive {

// Per open handle: the sense data that REQUEST SENSE returns.
struct Initiator {
  std::optional<Sense> lastSense;
};

// One command as a door delivers it.
struct CommandIo {
  const uint8_t* cdb = nullptr;
  uint8_t cdbLength = 0;
  uint8_t direction = 0;  // QVDRIVE_DIR_*
  uint8_t* buffer = nullptr;
  uint32_t bufferSize = 0;
};

struct CommandResult {
  uint32_t doorError = 0;  // non-zero: the command never reached the drive
  uint8_t status = kGood;
  bool hasSense = false;
  Sense sense;
  uint32_t transferred = 0;
  uint64_t startUs = 0;     // virtual time
  uint64_t durationUs = 0;
};

// The drive's side of one command, for the handlers.
struct Exec {
  DriveRecord& record;
  DiscData& disc;
  Changes& changes;
  Initiator& initiator;
  const uint8_t* cdb;  // 16 bytes, zero past the CDB's length
  uint8_t* in;         // data to the host
  uint32_t inCapacity;
  const uint8_t* out;  // data from the host
  uint32_t outLength;
  CommandResult& result;
  uint64_t mediaBytes = 0;  // bytes moved to or from the disc, for timing
  uint64_t extraUs = 0;     // time the drive spends besides moving data

  const DriveModel& model() const { return record.model; }
  DriveState& state() { return record.state; }
  // Sends an answer, cut to the allocation length and the host's buffer.
  void Send(const std::vector<uint8_t>& data, uint32_t allocationLength);
  void Check(const Sense& sense) {
    result.status = kCheckCondition;
    result.hasSense = true;
    result.sense = sense;
  }
  void StateChanged() { changes.state = true; }
};

using Handler = void (*)(Exec&);

enum class DataPhase : uint8_t { None, In, Out };

struct CommandEntry {
  uint8_t opcode;
  DataPhase data;
  bool needsDisc;          // NOT READY unless the disc is ready
  bool seesUnitAttention;  // false for the commands a unit attention lets through
  Handler run;
};

// The command of an opcode, or nullptr.
const CommandEntry* FindCommand(uint8_t opcode);

// Runs one command on a drive.
CommandResult Execute(DriveStore& store, Initiator& initiator, const CommandIo& io);

// Handlers, one file per group.
void TestUnitReady(Exec& x);
void RequestSense(Exec& x);
void Inquiry(Exec& x);
void StartStopUnit(Exec& x);
void PreventAllowMediumRemoval(Exec& x);
void ModeSense10(Exec& x);
void ModeSelect10(Exec& x);
void GetConfiguration(Exec& x);
void GetEventStatusNotification(Exec& x);
void ReadCapacity(Exec& x);
void Read10(Exec& x);
void ReadCd(Exec& x);
void ReadSubChannel(Exec& x);
void ReadCdMsf(Exec& x);
void ReadToc(Exec& x);
void ReadDiscInformation(Exec& x);
void ReadTrackInformation(Exec& x);
void ReadFormatCapacities(Exec& x);
void ReadDvdStructure(Exec& x);
void ReportKey(Exec& x);
void GetPerformance(Exec& x);
void SetCdSpeed(Exec& x);
void SetStreaming(Exec& x);
void SendOpcInformation(Exec& x);
void MechanismStatus(Exec& x);
void Write10(Exec& x);
void SynchronizeCache(Exec& x);
void CloseTrackSession(Exec& x);
void ReserveTrack(Exec& x);
void ReadBufferCapacity(Exec& x);
void Blank(Exec& x);
void FormatUnit(Exec& x);
void SendDvdStructure(Exec& x);
void SendCueSheet(Exec& x);
// Session-at-once (vdrive/cmd_sao.cpp): the WRITE of write type 2, and the
// flush that closes the session once all of it arrived (true then).
void WriteSessionAtOnce(Exec& x, bool testWrite);
bool FlushSessionAtOnce(Exec& x, bool testWrite, bool multiSession);

}  // namespace qv::vdrive
