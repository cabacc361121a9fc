#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "platform/errors.h"
#include "vdrive/bytes.h"
#include "vdrive/cd_address.h"
#include "vdrive/command_log.h"
#include "vdrive/commands.h"
#include "vdrive/qvdrive.h"

namespace qv::vdrive {

namespace {

// INQUIRY and REQUEST SENSE never report a unit attention (SPC); MMC adds
// GET CONFIGURATION and GET EVENT STATUS NOTIFICATION so that a host can
// learn about a new disc without losing the attention.
const CommandEntry kCommands[] = {
    {0x00, DataPhase::None, true, true, &TestUnitReady},
    {0x03, DataPhase::In, false, false, &RequestSense},
    {0x04, DataPhase::Out, true, true, &FormatUnit},
    {0x12, DataPhase::In, false, false, &Inquiry},
    {0x1B, DataPhase::None, false, true, &StartStopUnit},
    {0x1E, DataPhase::None, false, true, &PreventAllowMediumRemoval},
    {0x23, DataPhase::In, true, true, &ReadFormatCapacities},
    {0x25, DataPhase::In, true, true, &ReadCapacity},
    {0x28, DataPhase::In, true, true, &Read10},
    {0x2A, DataPhase::Out, true, true, &Write10},
    {0x35, DataPhase::None, true, true, &SynchronizeCache},
    {0x42, DataPhase::In, true, true, &ReadSubChannel},
    {0x43, DataPhase::In, true, true, &ReadToc},
    {0x46, DataPhase::In, false, false, &GetConfiguration},
    {0x4A, DataPhase::In, false, false, &GetEventStatusNotification},
    {0x51, DataPhase::In, true, true, &ReadDiscInformation},
    {0x52, DataPhase::In, true, true, &ReadTrackInformation},
    {0x53, DataPhase::None, true, true, &ReserveTrack},
    {0x54, DataPhase::Out, true, true, &SendOpcInformation},
    {0x55, DataPhase::Out, false, true, &ModeSelect10},
    {0x5A, DataPhase::In, false, true, &ModeSense10},
    {0x5B, DataPhase::None, true, true, &CloseTrackSession},
    {0x5C, DataPhase::In, false, true, &ReadBufferCapacity},
    {0x5D, DataPhase::Out, true, true, &SendCueSheet},
    {0xA1, DataPhase::None, true, true, &Blank},
    {0xA4, DataPhase::In, false, true, &ReportKey},
    {0xAC, DataPhase::In, false, true, &GetPerformance},
    {0xAD, DataPhase::In, true, true, &ReadDvdStructure},
    {0xB6, DataPhase::Out, false, true, &SetStreaming},
    {0xB9, DataPhase::In, true, true, &ReadCdMsf},
    {0xBB, DataPhase::None, false, true, &SetCdSpeed},
    {0xBD, DataPhase::In, false, true, &MechanismStatus},
    {0xBE, DataPhase::In, true, true, &ReadCd},
    {0xBF, DataPhase::Out, true, true, &SendDvdStructure},
};

// The CDB length of an opcode's group (SPC-3 4.3.4).
uint8_t GroupLength(uint8_t opcode) {
  switch (opcode >> 5) {
    case 0: return 6;
    case 1:
    case 2: return 10;
    case 4: return 16;
    case 5: return 12;
    default: return 6;
  }
}

// The blocks a command reads, for fault rules with a block range.
void BlockRange(const uint8_t* cdb, uint32_t* first, uint32_t* count) {
  *first = 0;
  *count = 0;
  if (cdb[0] == 0x28 || cdb[0] == 0x2A) {
    *first = Be32(cdb + 2);
    *count = Be16(cdb + 7);
  } else if (cdb[0] == 0xBE) {
    *first = Be32(cdb + 2);
    *count = Be24(cdb + 6);
  } else if (cdb[0] == 0xB9) {
    const int32_t start = MsfToLba(cdb[3], cdb[4], cdb[5]), end = MsfToLba(cdb[6], cdb[7], cdb[8]);
    if (start >= 0 && end > start) {
      *first = static_cast<uint32_t>(start);
      *count = static_cast<uint32_t>(end - start);
    }
  }
}

constexpr uint64_t kCommandOverheadUs = 250;

uint64_t DurationUs(const Exec& x) {
  uint64_t us = kCommandOverheadUs + x.extraUs;
  if (x.mediaBytes > 0) us += x.mediaBytes * 1000 / std::max<uint32_t>(x.record.state.ReadSpeed(x.model()), 1);  // kB/s = bytes per ms
  return us;
}

}  // namespace

void Exec::Send(const std::vector<uint8_t>& data, uint32_t allocationLength) {
  const uint32_t n = std::min<uint32_t>({static_cast<uint32_t>(data.size()), allocationLength, inCapacity});
  if (n > 0) std::memcpy(in, data.data(), n);
  result.transferred = n;
}

const CommandEntry* FindCommand(uint8_t opcode) {
  for (const auto& c : kCommands)
    if (c.opcode == opcode) return &c;
  return nullptr;
}

CommandResult Execute(DriveStore& store, Initiator& initiator, const CommandIo& io) {
  CommandResult result;
  result.startUs = plat::NowMs() * 1000;
  if (io.cdb == nullptr || (io.cdbLength != 6 && io.cdbLength != 10 && io.cdbLength != 12 && io.cdbLength != 16) ||
      io.direction > QVDRIVE_DIR_OUT || (io.buffer == nullptr && io.bufferSize > 0)) {
    result.doorError = plat::kErrInvalidParameter;
    return result;
  }
  uint8_t cdb[16] = {};
  std::memcpy(cdb, io.cdb, io.cdbLength);
  const CommandEntry* command = FindCommand(cdb[0]);
  if (command != nullptr) {
    // A CDB shorter than its command, or a buffer going the wrong way,
    // cannot be what the host meant.
    const bool wrongWay = io.bufferSize > 0 && ((command->data == DataPhase::In && io.direction == QVDRIVE_DIR_OUT) ||
                                                (command->data == DataPhase::Out && io.direction == QVDRIVE_DIR_IN));
    if (io.cdbLength < GroupLength(cdb[0]) || wrongWay) {
      result.doorError = plat::kErrInvalidParameter;
      return result;
    }
  }

  uint32_t delayMs = 0;
  CommandLog::Starting(cdb[0]);
  const uint32_t err = store.Transact([&](DriveRecord& record, DiscData& disc, Changes& changes) -> uint32_t {
    DriveState& state = record.state;
    if (state.vanished) return plat::kErrDeviceNotConnected;
    if (state.Settle(record.model, result.startUs / 1000)) changes.state = true;
    Exec x{record,
           disc,
           changes,
           initiator,
           cdb,
           io.direction == QVDRIVE_DIR_IN ? io.buffer : nullptr,
           io.direction == QVDRIVE_DIR_IN ? io.bufferSize : 0,
           io.direction == QVDRIVE_DIR_OUT ? io.buffer : nullptr,
           io.direction == QVDRIVE_DIR_OUT ? io.bufferSize : 0,
           result};

    uint32_t first, count;
    BlockRange(cdb, &first, &count);
    AnswerEdits edits;
    if (record.faults.Armed()) {
      bool countsChanged = false;
      const std::optional<FaultAction> fault =
          record.faults.Match(cdb, x.out, x.outLength, first, count, &edits, &countsChanged);
      changes.faults = countsChanged;
      if (fault && fault->kind == FaultKind::Slow) {
        delayMs = fault->delayMs;
      } else if (fault) {
        switch (fault->kind) {
          case FaultKind::Vanish:
            state.vanished = true;
            changes.state = true;
            return plat::kErrDeviceNotConnected;
          case FaultKind::Busy: result.status = kBusy; break;
          case FaultKind::LongWriteInProgress: x.Check(Sense(kNotReady, asc::kLongWriteInProgress)); break;
          case FaultKind::UnitAttention: x.Check(Sense(kUnitAttention, fault->code)); break;
          case FaultKind::Slow: break;
          case FaultKind::Pull:
            state.OpenTray();
            changes.state = true;
            x.Check(NotReadySense(state.PeekReady(record.model)));
            break;
          case FaultKind::Sense: {
            Sense s(fault->key, fault->code);
            if (count > 0) s.Information(fault->lba);
            x.Check(s);
            break;
          }
          case FaultKind::Short:
          case FaultKind::Corrupt: break;  // Match returns status rules only
        }
        result.durationUs = kCommandOverheadUs;
        return 0;
      }
    }

    // Some models lack a command altogether.
    if (command != nullptr && command->opcode == 0x46 && record.model.Has(kQuirkNoGetConfiguration)) command = nullptr;
    const uint8_t control = cdb[GroupLength(cdb[0]) - 1];
    if (command == nullptr || command->seesUnitAttention) {
      if (state.unitAttention) {
        x.Check(Sense(kUnitAttention, *state.unitAttention));
        state.unitAttention.reset();
        changes.state = true;
      } else if (command == nullptr) {
        x.Check(Sense(kIllegalRequest, asc::kInvalidOpcode).FieldPointer(true, 0, 7));
      }
    }
    if (result.status == kGood && (control & 0x05) != 0)  // NACA and LINK are not supported
      x.Check(InvalidCdbField(static_cast<uint16_t>(GroupLength(cdb[0]) - 1)));
    if (result.status == kGood && state.operationEndMs != 0) {
      // A long operation keeps the disc busy; the sense tells how far it got.
      const uint64_t now = plat::NowMs();
      if (now >= state.operationEndMs) {
        state.operation = asc::kNone;
        state.operationEndMs = 0;
      } else if (command->needsDisc) {
        const uint64_t span = state.operationEndMs - state.operationStartMs;
        const uint64_t progress = span == 0 ? 0 : (now - state.operationStartMs) * 65536 / span;
        Sense s(kNotReady, state.operation);
        s.bytes[15] = 0x80;  // SKSV: progress indication
        PutBe16(s.bytes + 16, static_cast<uint32_t>(std::min<uint64_t>(progress, 65535)));
        x.Check(s);
      }
    }
    if (result.status == kGood && command->needsDisc) {
      const Readiness r = state.PeekReady(record.model);
      if (r != Readiness::Ready) x.Check(NotReadySense(r));
    }
    if (result.status == kGood) command->run(x);
    if (result.status == kGood && x.in != nullptr) result.transferred = edits.Apply(x.in, x.inCapacity, result.transferred);
    result.durationUs = DurationUs(x) + uint64_t{delayMs} * 1000;
    return 0;
  });
  // Outside the drive's lock, as a slow drive keeps its other hosts waiting
  // no longer than its own.
  if (delayMs > 0) plat::SleepMs(delayMs);

  CommandLog::Record({std::vector<uint8_t>(cdb, cdb + io.cdbLength),
                      io.direction == QVDRIVE_DIR_OUT ? std::vector<uint8_t>(io.buffer, io.buffer + io.bufferSize)
                                                      : std::vector<uint8_t>{},
                      result.status});
  if (err != 0) {
    // A drive whose folder went away, or whose files cannot be read, is a
    // device that is gone.
    result.doorError = err == plat::kErrFileNotFound || err == plat::kErrInvalidData ? plat::kErrDeviceNotConnected : err;
    result.status = kGood;
    result.hasSense = false;
    result.transferred = 0;
    return result;
  }
  if (cdb[0] != 0x03) {
    if (result.hasSense)
      initiator.lastSense = result.sense;
    else
      initiator.lastSense.reset();
  }
  return result;
}

}  // namespace qv::vdrive
