// Recording: WRITE(10), SYNCHRONIZE CACHE, RESERVE TRACK, CLOSE TRACK/
// SESSION, READ BUFFER CAPACITY, BLANK, FORMAT UNIT and SEND DVD STRUCTURE
// (MMC-5 6.44, 6.41, 6.31, 6.3, 6.25, 6.2, 6.5, 6.35), with the write
// parameters of mode page 05h.
//
// The drive buffer fills with every WRITE and drains at the current write
// speed; a WRITE that does not fit answers "long write in progress". Long
// operations started with Immed keep the drive NOT READY, with progress in
// the sense data, until they end (see the dispatcher).
#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "vdrive/bytes.h"
#include "vdrive/commands.h"
#include "vdrive/disc_layout.h"
#include "vdrive/mode_pages.h"
#include "vdrive/raw_write.h"

namespace qv::vdrive {

namespace {

constexpr uint32_t kDvdBlock = 2048;
constexpr uint32_t kDvdBlocking = 16;
constexpr Asc kInvalidAddressForWrite{0x21, 0x02};
constexpr Asc kCommandSequenceError{0x2C, 0x00};
constexpr Asc kCannotWriteIncompatibleFormat{0x30, 0x05};
constexpr Asc kCannotFormatIncompatibleMedium{0x30, 0x06};
constexpr Asc kMediumNotFormatted{0x30, 0x10};
constexpr Asc kIllegalModeForTrack{0x64, 0x00};

// How long the long operations take. A virtual drive need not take the
// hour a real full blank does; the host only has to see them run.
constexpr uint64_t kQuickOperationMs = 2000;
constexpr uint64_t kFullOperationMs = 6000;

// What mode page 05h asks for.
struct WriteParameters {
  uint8_t writeType = 0;
  bool testWrite = false;
  bool multiSession = false;
  uint32_t blockSize = 0;  // 0: a data block type this drive does not record
  TrackMode mode = TrackMode::Mode1;
};

WriteParameters Current(const Exec& x) {
  const std::vector<uint8_t> p = ModePage(kPageWriteParameters, kCurrentValues, x.model(), x.record.state);
  WriteParameters w;
  if (p.size() < 5) return w;
  w.writeType = p[2] & 0x0F;
  w.testWrite = (p[2] & 0x10) != 0;
  w.multiSession = (p[3] & 0xC0) == 0xC0;
  switch (p[4] & 0x0F) {
    case 0: w.blockSize = 2352, w.mode = TrackMode::Audio; break;
    case 8: w.blockSize = 2048, w.mode = TrackMode::Mode1; break;
    case 10: w.blockSize = 2048, w.mode = TrackMode::Mode2Form1; break;
    case 12: w.blockSize = 2324, w.mode = TrackMode::Mode2Form2; break;
    case 13: w.blockSize = 2332, w.mode = TrackMode::Mode2; break;  // Form 2 with its subheader
    default: break;
  }
  return w;
}

uint64_t BufferBytes(const Exec& x) { return uint64_t{x.model().bufferKiB} * 1024; }

// kB/s is bytes per millisecond.
uint64_t BytesPerMs(Exec& x) { return std::max<uint32_t>(x.state().WriteSpeed(x.model()), 1); }

// Brings the buffer fill up to now.
void Drain(Exec& x) {
  DriveState& s = x.state();
  const uint64_t now = plat::NowMs();
  if (now > s.bufferStampMs) s.bufferFill -= std::min(s.bufferFill, (now - s.bufferStampMs) * BytesPerMs(x));
  s.bufferStampMs = now;
}

void StartOperation(Exec& x, Asc code, uint64_t durationMs, bool immediate) {
  if (durationMs == 0) return;
  if (!immediate) {
    x.extraUs += durationMs * 1000;  // the command itself takes that long
    return;
  }
  DriveState& s = x.state();
  s.operation = code;
  s.operationStartMs = plat::NowMs();
  s.operationEndMs = s.operationStartMs + durationMs;
}

// The track that writes go to: an unfinished one in the open last session.
Track* OpenTrack(Medium& m) {
  if (m.sessions.empty() || m.sessions.back().closed) return nullptr;
  for (Track& t : m.sessions.back().tracks)
    if (!t.finished()) return &t;
  return nullptr;
}

// Where the stored CD sectors end in disc.img.
uint64_t StoredEnd(const Medium& m) {
  uint64_t end = 0;
  for (const auto& s : m.sessions)
    for (const auto& t : s.tracks)
      end = std::max(end, t.dataOffset + uint64_t(t.end() - std::max<int64_t>(t.areaStart(), 0)) * t.storedSectorBytes());
  return end;
}

// A new track at the next writable address, in the open session or a new one.
Track& NewTrack(Medium& m, uint32_t start, uint32_t blocks, TrackMode mode) {
  if (m.sessions.empty() || m.sessions.back().closed) m.sessions.push_back(Session{{}, false});
  Track t;
  t.start = start;
  t.blocks = blocks;
  t.mode = mode;
  if (m.IsCd()) {
    t.pregap = kCdPauseBlocks;
    t.dataOffset = StoredEnd(m);
  }
  m.sessions.back().tracks.push_back(t);
  m.status = DiscStatus::Appendable;
  return m.sessions.back().tracks.back();
}

// Ends the track being written where its data ends; a reserved track is
// padded to its reserved size.
void FinishTrack(Track& t) {
  if (t.reserved) t.recorded = t.blocks;
  else t.blocks = std::max<uint32_t>(t.recorded, 1), t.recorded = t.blocks;
}

bool SequentialDash(const Medium& m) { return m.IsDvd() && m.type->dashFormat && !m.RandomAccess(); }

// Writes a run of host blocks into a CD track's stored sectors.
uint32_t StoreCd(Exec& x, const Track& t, uint32_t lba, uint32_t blocks, uint32_t blockSize) {
  const uint32_t stored = t.storedSectorBytes();
  const uint64_t first = t.dataOffset + uint64_t(lba - std::max<int64_t>(t.areaStart(), 0)) * stored;
  if (stored == blockSize) return x.disc.Write(first, x.out, uint64_t{blocks} * blockSize);
  std::vector<uint8_t> sector(stored, 0);
  for (uint32_t i = 0; i < blocks; ++i) {
    std::memcpy(sector.data(), x.out + uint64_t{i} * blockSize, std::min(blockSize, stored));
    if (uint32_t err = x.disc.Write(first + uint64_t{i} * stored, sector.data(), stored)) return err;
  }
  return 0;
}

}  // namespace

void Write10(Exec& x) {
  if (x.cdb[1] & 0x01) return x.Check(InvalidCdbField(1, 0));  // RelAdr
  Medium& m = *x.state().disc;
  if (m.IsCd() && RawWriteRequested(x)) return WriteRaw(x);
  const uint32_t lba = Be32(x.cdb + 2);
  const uint32_t blocks = Be16(x.cdb + 7);
  if (m.type->pressed || !x.model().Writes(m.profile) || !m.Writable())
    return x.Check(Sense(kIllegalRequest, kCannotWriteIncompatibleFormat));
  const WriteParameters w = Current(x);
  if (m.IsCd() && w.writeType == 2) {
    if (w.testWrite && !x.model().testWrite) return x.Check(Sense(kIllegalRequest, kIllegalModeForTrack));
    return WriteSessionAtOnce(x, w.testWrite);
  }
  const bool random = m.RandomAccess();
  if (w.blockSize == 0 || (m.IsDvd() && w.blockSize != kDvdBlock) || (!random && w.writeType > 2))
    return x.Check(Sense(kIllegalRequest, kIllegalModeForTrack));
  const uint32_t blockSize = m.IsDvd() ? kDvdBlock : w.blockSize;
  if (uint64_t{blocks} * blockSize != x.outLength) return x.Check(InvalidCdbField(7));
  // Only CDs and the DVD-R family can simulate.
  const bool test = w.testWrite && !random;
  if (w.testWrite && (!x.model().testWrite || (m.IsDvd() && !m.type->dashFormat)))
    return x.Check(Sense(kIllegalRequest, kIllegalModeForTrack));
  if (blocks == 0) return;

  Drain(x);
  const uint64_t bytes = uint64_t{blocks} * blockSize;
  if (x.state().bufferFill > 0 && x.state().bufferFill + bytes > BufferBytes(x))
    return x.Check(Sense(kNotReady, asc::kLongWriteInProgress));

  if (random) {
    if (!m.formatted) return x.Check(Sense(kIllegalRequest, kMediumNotFormatted));
    // A DVD-RW in restricted overwrite grows its format as it is written on.
    const uint32_t end = m.profile == kProfileDvdRwRestricted ? m.capacity : m.FormattedBlocks();
    const uint32_t reach = m.profile == kProfileDvdRwRestricted ? m.FormattedBlocks() : end;
    if (lba > reach || lba >= end || blocks > end - lba)
      return x.Check(Sense(kIllegalRequest, asc::kLbaOutOfRange).Information(lba));
    if (x.disc.Write(uint64_t{lba} * kDvdBlock, x.out, bytes) != 0)
      return x.Check(Sense(kHardwareError, asc::kInternalTargetFailure).Information(lba));
    if (m.profile == kProfileDvdRwRestricted && lba + blocks > m.FormattedBlocks()) {
      Track& t = m.sessions.back().tracks.back();
      t.blocks = t.recorded = lba + blocks;
      x.StateChanged();
    }
  } else {
    Track* open = OpenTrack(m);
    const DiscLayout layout(m);
    const auto& inv = layout.invisible();
    if (open == nullptr && !inv) return x.Check(Sense(kIllegalRequest, kInvalidAddressForWrite).Information(lba));
    const uint32_t nwa = open != nullptr ? open->start + open->recorded : inv->start;
    const uint32_t end = open != nullptr ? open->end() : m.capacity;
    if ((test ? lba < nwa : lba != nwa) || lba >= end)
      return x.Check(Sense(kIllegalRequest, kInvalidAddressForWrite).Information(lba));
    if (blocks > end - lba) return x.Check(Sense(kIllegalRequest, asc::kLbaOutOfRange).Information(lba));
    if (open != nullptr && m.IsCd() && open->mode != w.mode)
      return x.Check(Sense(kIllegalRequest, kIllegalModeForTrack).Information(lba));
    if (!test) {
      Track& t = open != nullptr ? *open : NewTrack(m, nwa, m.capacity - nwa, m.IsCd() ? w.mode : TrackMode::Mode1);
      t.incremental = t.incremental || (m.IsCd() && t.mode != TrackMode::Audio && w.writeType == 0);
      const uint32_t err = m.IsCd() ? StoreCd(x, t, lba, blocks, blockSize)
                                    : x.disc.Write(uint64_t{lba} * kDvdBlock, x.out, bytes);
      if (err != 0) return x.Check(Sense(kHardwareError, asc::kInternalTargetFailure).Information(lba));
      t.recorded += blocks;
      if (m.profile == kProfileDvdPlusRDl) m.layerBreakFixed = true;
      x.StateChanged();
    }
  }
  x.state().bufferFill += bytes;
}

void SynchronizeCache(Exec& x) {
  const bool immediate = (x.cdb[1] & 0x02) != 0;
  Drain(x);
  DriveState& s = x.state();
  const uint64_t ms = (s.bufferFill + BytesPerMs(x) - 1) / BytesPerMs(x);
  s.bufferFill = 0;
  StartOperation(x, asc::kLongWriteInProgress, ms, immediate);
  EndRawWrite(x);
  Medium& m = *s.disc;
  const WriteParameters w = Current(x);
  if (m.IsCd() && w.writeType == 2 && FlushSessionAtOnce(x, w.testWrite, w.multiSession)) return;
  if (m.RandomAccess() || w.testWrite || m.sessions.empty() || m.sessions.back().closed) return;
  Track& last = m.sessions.back().tracks.back();
  if (last.recorded == 0) return;
  if (m.IsCd() && w.writeType == 1 && !last.finished()) {
    // Track-at-once: the drive writes the run-out and the track is done.
    FinishTrack(last);
    x.StateChanged();
  } else if (SequentialDash(m) && w.writeType == 2) {
    // Disc-at-once on DVD-R(W): the flush after the data closes the disc.
    FinishTrack(last);
    m.sessions.back().closed = true;
    m.status = DiscStatus::Complete;
    x.StateChanged();
  }
}

void CloseTrackSession(Exec& x) {
  const uint8_t function = x.cdb[2] & 0x07;
  if (function != 1 && function != 2 && function != 5 && function != 6) return x.Check(InvalidCdbField(2, 2));
  Medium& m = *x.state().disc;
  if ((function == 5 || function == 6) && !(m.IsDvd() && m.type->plusFormat))
    return x.Check(InvalidCdbField(2, 2));
  if (function == 6 && m.profile != kProfileDvdPlusRDl) return x.Check(InvalidCdbField(2, 2));
  if (m.RandomAccess() || Current(x).testWrite || m.sessions.empty()) return;
  if (Track* open = OpenTrack(m)) {
    if (open->recorded == 0 && !open->reserved) {
      // Nothing was written: the empty track goes away.
      m.sessions.back().tracks.pop_back();
      if (m.sessions.back().tracks.empty()) m.sessions.pop_back();
      if (m.sessions.empty()) m.status = DiscStatus::Blank;
    } else {
      FinishTrack(*open);
    }
    x.StateChanged();
  }
  if (function == 1 || m.sessions.empty() || m.sessions.back().closed) return;
  m.sessions.back().closed = true;
  // DVD+R keeps the disc open after closing a session; finalizing ends it.
  // The others follow the multi-session field of page 05h.
  const bool plusR = m.IsDvd() && m.type->plusFormat;
  const bool open = plusR ? function == 2 : Current(x).multiSession;
  m.status = open ? DiscStatus::Appendable : DiscStatus::Complete;
  x.StateChanged();
}

void ReserveTrack(Exec& x) {
  Medium& m = *x.state().disc;
  uint32_t size = Be32(x.cdb + 5);
  if (x.cdb[1] & 0x01) return x.Check(InvalidCdbField(1, 0));  // ARSV: reservation by address
  if (!SequentialDash(m) || !x.model().Writes(m.profile)) return x.Check(Sense(kIllegalRequest, kIllegalModeForTrack));
  if (OpenTrack(m) != nullptr) return x.Check(Sense(kIllegalRequest, kCommandSequenceError));
  const DiscLayout layout(m);
  const auto& inv = layout.invisible();
  size = (size + kDvdBlocking - 1) / kDvdBlocking * kDvdBlocking;
  if (!inv || size == 0 || size > inv->freeBlocks) return x.Check(InvalidCdbField(5));
  // A test write simulates the reservation with the rest: the disc keeps
  // its state (the Test Write bit of mode page 05h).
  if (Current(x).testWrite) return;
  Track& t = NewTrack(m, inv->start, size, TrackMode::Mode1);
  t.reserved = true;
  x.StateChanged();
}

void ReadBufferCapacity(Exec& x) {
  Drain(x);
  const uint64_t capacity = BufferBytes(x);
  const uint64_t free = capacity - std::min(capacity, x.state().bufferFill);
  Bytes d;
  d.U16(10);
  d.Zeros(2);
  if (x.cdb[1] & 0x01) {  // Block: the free space in whole blocks
    d.Zeros(4);
    d.U32(static_cast<uint32_t>(free / kDvdBlock));
  } else {
    d.U32(static_cast<uint32_t>(capacity));
    d.U32(static_cast<uint32_t>(free));
  }
  x.Send(d.data(), Be16(x.cdb + 7));
}

void Blank(Exec& x) {
  const uint8_t type = x.cdb[1] & 0x07;
  const bool immediate = (x.cdb[1] & 0x10) != 0;
  Medium& m = *x.state().disc;
  const bool blankable = m.profile == kProfileCdRw || m.profile == kProfileDvdRwSequential ||
                         m.profile == kProfileDvdRwRestricted;
  if (!blankable || !x.model().Writes(m.type->profile))
    return x.Check(Sense(kIllegalRequest, kCannotFormatIncompatibleMedium));
  if (type > 1) return x.Check(InvalidCdbField(1, 2));  // whole disc or minimal only
  Medium fresh = Medium::New(*m.type);
  fresh.leadInStart = m.leadInStart;
  fresh.opcSpeed = m.opcSpeed;
  m = std::move(fresh);
  x.changes.disc = true;  // the data file goes
  x.changes.discFrom.clear();
  x.StateChanged();
  StartOperation(x, Asc{0x04, 0x07}, type == 0 ? kFullOperationMs : kQuickOperationMs, immediate);
}

void FormatUnit(Exec& x) {
  const bool formatData = (x.cdb[1] & 0x10) != 0;
  if ((x.cdb[1] & 0x07) != 1 && formatData) return x.Check(InvalidCdbField(1, 2));
  if (formatData && x.outLength < 12) return x.Check(Sense(kIllegalRequest, asc::kParameterListLengthError));
  const bool immediate = formatData && (x.out[1] & 0x02) != 0;
  Medium& m = *x.state().disc;
  const uint8_t type = formatData ? x.out[8] >> 2 : m.profile == kProfileDvdPlusRw ? 0x26 : 0x00;
  const uint32_t blocks = formatData ? Be32(x.out + 4) : 0xFFFFFFFFu;
  if (!x.model().Writes(m.type->profile)) return x.Check(Sense(kIllegalRequest, kCannotFormatIncompatibleMedium));
  uint64_t ms = kQuickOperationMs;
  switch (m.profile) {
    case kProfileDvdPlusRw:
      if (type != 0x26) return x.Check(InvalidParameterField(8, 7));
      if (!m.formatted) {
        m.formatted = true;
        m.status = DiscStatus::Complete;
      }
      ms = 0;  // DVD+RW formats in the background: the disc is ready at once
      break;
    case kProfileDvdRam:
      if (type != 0x00) return x.Check(InvalidParameterField(8, 7));
      if (blocks == 0 || blocks > m.type->capacity) return x.Check(InvalidParameterField(4));
      m.formatted = true;
      m.capacity = blocks;
      ms = kFullOperationMs;
      break;
    case kProfileDvdRwSequential:
    case kProfileDvdRwRestricted: {
      if (type == 0x13) {  // quick grow the last session: the format reaches the capacity
        if (m.profile != kProfileDvdRwRestricted) return x.Check(InvalidParameterField(8, 7));
        break;
      }
      if (type != 0x15 && type != 0x00 && type != 0x10) return x.Check(InvalidParameterField(8, 7));
      Medium fresh = Medium::New(*m.type);
      fresh.opcSpeed = m.opcSpeed;
      if (type != 0x10) {
        // Restricted overwrite; a quick format formats the start only, and
        // the format grows as the host writes on.
        fresh.profile = kProfileDvdRwRestricted;
        fresh.formatted = true;
        fresh.status = DiscStatus::Complete;
        Track t;
        t.blocks = t.recorded = type == 0x00 ? m.capacity : kDvdBlocking;
        fresh.sessions.push_back(Session{{t}, true});
        if (type == 0x00) ms = kFullOperationMs;
      }
      m = std::move(fresh);
      x.changes.disc = true;
      x.changes.discFrom.clear();
      break;
    }
    default: return x.Check(Sense(kIllegalRequest, kCannotFormatIncompatibleMedium));
  }
  x.StateChanged();
  StartOperation(x, Asc{0x04, 0x04}, ms, immediate);
}

void SendDvdStructure(Exec& x) {
  Medium& m = *x.state().disc;
  if (x.cdb[7] != 0x20) return x.Check(InvalidCdbField(7));
  if (m.profile != kProfileDvdPlusRDl) return x.Check(Sense(kIllegalRequest, kCannotWriteIncompatibleFormat));
  if (x.outLength < 12) return x.Check(Sense(kIllegalRequest, asc::kParameterListLengthError));
  const uint32_t layer0 = Be32(x.out + 8);
  if (m.layerBreakFixed) return x.Check(Sense(kIllegalRequest, kCommandSequenceError));
  // Layer 0 holds at most half of what the disc can take.
  if (layer0 == 0 || layer0 % kDvdBlocking != 0 || layer0 > m.type->capacity / 2)
    return x.Check(InvalidParameterField(8));
  m.layerBreak = layer0;
  x.StateChanged();
}

}  // namespace qv::vdrive
