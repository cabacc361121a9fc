#include "vdrive/mode_pages.h"

#include <algorithm>

#include "vdrive/bytes.h"

namespace qv::vdrive {

namespace {

constexpr size_t kHeaderLength = 8;  // mode parameter header (10)

// A page of the given code and length, its body filled with fill.
std::vector<uint8_t> NewPage(uint8_t code, size_t length, uint8_t fill) {
  std::vector<uint8_t> p(length, fill);
  p[0] = code;
  p[1] = static_cast<uint8_t>(length - 2);
  return p;
}

std::vector<uint8_t> DefaultErrorRecovery() {
  std::vector<uint8_t> p = NewPage(kPageErrorRecovery, kPage01Length, 0);
  p[3] = 0x20;  // read retry count
  p[8] = 0x10;  // write retry count
  return p;
}

std::vector<uint8_t> ErrorRecoveryMask() {
  std::vector<uint8_t> p = NewPage(kPageErrorRecovery, kPage01Length, 0);
  p[2] = 0xF7;  // AWRE ARRE TB RC - PER DTE DCR
  p[3] = 0xFF;
  p[8] = 0xFF;
  return p;
}

std::vector<uint8_t> DefaultWriteParameters(const DriveModel& model) {
  std::vector<uint8_t> p = NewPage(kPageWriteParameters, kPage05Length, 0);
  p[2] = static_cast<uint8_t>((model.bufferUnderrunFree ? 0x40 : 0x00) | (model.trackAtOnce ? 0x01 : 0x00));
  p[3] = 0x04;            // track mode: data, recorded uninterrupted
  p[4] = 0x08;            // data block type: Mode 1, 2048 bytes
  PutBe16(&p[14], 150);   // audio pause length
  return p;
}

std::vector<uint8_t> WriteParametersMask(const DriveModel& model) {
  std::vector<uint8_t> p = NewPage(kPageWriteParameters, kPage05Length, 0xFF);
  p[2] = static_cast<uint8_t>((model.bufferUnderrunFree ? 0x40 : 0x00) | 0x20 | (model.testWrite ? 0x10 : 0x00) | 0x0F);
  p[4] = 0x0F;
  p[6] = 0x00;
  p[7] = 0x3F;
  p[9] = 0x00;
  return p;
}

// Page 30h: byte 2 bit 0 says the drive can link after an underrun,
// byte 3 bit 0 switches it on.
std::vector<uint8_t> DefaultBufferLink() {
  std::vector<uint8_t> p = NewPage(kPageBufferLink, kPage30Length, 0);
  p[2] = 0x01;
  return p;
}

std::vector<uint8_t> BufferLinkMask() {
  std::vector<uint8_t> p = NewPage(kPageBufferLink, kPage30Length, 0);
  p[3] = 0x01;
  return p;
}

// The capabilities page follows the disc in the drive: CD speeds with a CD
// or no disc, DVD speeds with a DVD.
std::vector<uint8_t> Capabilities(const DriveModel& m, const DriveState& state) {
  const Medium* disc = state.ReadyDisc(m);
  const bool dvd = disc != nullptr && disc->IsDvd();
  const std::vector<uint32_t>& writeSpeeds = dvd ? m.dvdWriteSpeeds : m.cdWriteSpeeds;
  const uint32_t readSpeed = dvd ? m.dvdReadSpeed : m.cdReadSpeed;
  const uint32_t currentRead = state.ReadSpeed(m);
  const bool writes = dvd ? m.Writes(kProfileDvdR) || m.Writes(kProfileDvdRam) || m.Writes(kProfileDvdPlusR) ||
                                m.Writes(kProfileDvdPlusRw) || m.Writes(kProfileDvdRwSequential)
                          : m.Writes(kProfileCdR) || m.Writes(kProfileCdRw);
  const uint32_t maxWrite = writes && !writeSpeeds.empty() ? writeSpeeds.front() : 0;
  const uint32_t currentWrite = writes ? state.WriteSpeed(m) : 0;

  Bytes p;
  p.U8(kPageCapabilities);
  p.U8(0);  // page length, below
  p.U8((m.Reads(kProfileCdR) ? 0x01 : 0) | (m.Reads(kProfileCdRw) ? 0x02 : 0) | 0x04 /* method 2 */ |
       (m.Reads(kProfileDvdRom) ? 0x08 : 0) | (m.Reads(kProfileDvdR) ? 0x10 : 0) | (m.Reads(kProfileDvdRam) ? 0x20 : 0));
  p.U8((m.Writes(kProfileCdR) ? 0x01 : 0) | (m.Writes(kProfileCdRw) ? 0x02 : 0) | (m.testWrite ? 0x04 : 0) |
       (m.Writes(kProfileDvdR) ? 0x10 : 0) | (m.Writes(kProfileDvdRam) ? 0x20 : 0));
  // BUF, multi-session, Mode 2 Form 2 and Form 1, audio play.
  p.U8((m.bufferUnderrunFree ? 0x80 : 0) | 0x40 | 0x20 | 0x10 | 0x01);
  // CD-DA commands and accurate stream, R-W supported and de-interleaved,
  // C2 pointers, ISRC, UPC.
  p.U8(0x7F);
  p.U8(static_cast<uint8_t>(m.loadingMechanism << 5) | 0x08 /* eject */ | (state.Locked() ? 0x02 : 0) | 0x01 /* lock */);
  p.U8(0x03);  // separate volume levels and channel mute
  p.U16(readSpeed);  // maximum read speed (obsolete, still read)
  p.U16(0x0100);     // volume levels
  p.U16(m.bufferKiB);
  p.U16(currentRead);  // current read speed
  p.U8(0);
  p.U8(0);
  p.U16(maxWrite);   // maximum write speed
  p.U16(currentWrite);  // current write speed
  p.U16(0x0001);     // copy management revision
  p.Zeros(3);
  p.U8(0);           // rotation control selected: CLV
  p.U16(currentWrite);  // current write speed selected
  p.U16(writes ? static_cast<uint32_t>(writeSpeeds.size()) : 0);
  if (writes) {
    for (uint32_t speed : writeSpeeds) {
      p.U8(0);
      p.U8(0);  // CLV
      p.U16(speed);
    }
  }
  p[1] = static_cast<uint8_t>(p.size() - 2);
  return p.data();
}

// Checks a write parameters page against the model and the disc. offset is
// where the page starts in the parameter list.
std::optional<Sense> CheckWriteParameters(const uint8_t* p, uint32_t offset, const DriveModel& model,
                                          const DriveState& state) {
  const uint8_t writeType = p[2] & 0x0F;
  const bool testWrite = (p[2] & 0x10) != 0;
  const bool linkSizeValid = (p[2] & 0x20) != 0;
  const uint8_t multiSession = p[3] >> 6;
  const bool fixedPacket = (p[3] & 0x20) != 0;
  const uint8_t trackMode = p[3] & 0x0F;
  const uint8_t blockType = p[4] & 0x0F;
  const uint8_t sessionFormat = p[8];
  const Medium* disc = state.DiscLoaded() ? &*state.disc : nullptr;
  const bool cd = disc == nullptr || disc->IsCd();

  auto field = [offset](uint32_t byte, int bit = -1) { return InvalidParameterField(static_cast<uint16_t>(offset + byte), bit); };

  // Write types: 0 packet/incremental, 1 track-at-once, 2 session-at-once
  // (disc-at-once on DVD), 3 raw; 4 layer jump needs DVD-R DL, and the rest
  // are reserved.
  switch (writeType) {
    case 0: break;
    case 1:
      if (!model.trackAtOnce) return field(2, 3);
      break;
    case 2:
      if (!model.sessionAtOnce) return field(2, 3);
      break;
    case 3:
      if (!cd) return field(2, 3);  // raw writing exists on CD only
      break;
    default: return field(2, 3);
  }
  // Data block types 4-7, 14 and 15 are reserved or vendor specific.
  if ((blockType >= 4 && blockType <= 7) || blockType >= 14) return field(4, 3);
  if (writeType == 3) {
    // Raw writing carries the subchannel: P-Q (1) or P-W (2, 3).
    if (blockType == 1 ? !model.rawPq : (blockType == 2 || blockType == 3) ? !model.rawPw : true) return field(4, 3);
  } else if (blockType >= 1 && blockType <= 3) {
    return field(4, 3);
  }
  // In packet and track-at-once writing the track mode and the block type
  // must agree: audio (control bit 2 clear) takes raw 2352-byte blocks,
  // data takes the Mode 1 and Mode 2 types.
  if (cd && writeType <= 1) {
    const bool dataTrack = (trackMode & 0x04) != 0;
    if (dataTrack != (blockType >= 8)) return field(3, 3);
  }
  if (trackMode >= 8) return field(3, 3);  // four-channel audio is not recorded
  if (multiSession == 2) return field(3, 7);
  if (cd && sessionFormat != 0x00 && sessionFormat != 0x10 && sessionFormat != 0x20) return field(8);
  if (fixedPacket && writeType == 0 && Be32(p + 10) == 0) return field(10);
  if ((p[2] & 0x40) && model.Has(kQuirkRejectsBufe)) return field(2, 6);
  if (linkSizeValid && disc != nullptr && disc->type->dashFormat && p[5] != 16) return field(5);
  if (linkSizeValid && disc != nullptr && disc->IsCd() && p[5] != 7) return field(5);
  // Test writes exist on CD-R/RW and DVD-R/RW only.
  if (testWrite && disc != nullptr && disc->IsDvd() && !disc->type->dashFormat) return field(2, 4);
  return std::nullopt;
}

const std::vector<uint8_t>& Stored(const std::vector<uint8_t>& stored, const std::vector<uint8_t>& fallback) {
  return stored.empty() ? fallback : stored;
}

}  // namespace

std::vector<uint8_t> ModePageCodes(const DriveModel& model) {
  std::vector<uint8_t> codes{kPageErrorRecovery};
  if (model.WritesAny()) codes.push_back(kPageWriteParameters);
  codes.push_back(kPageCapabilities);
  if (model.page30) codes.push_back(kPageBufferLink);
  return codes;
}

std::vector<uint8_t> ModePage(uint8_t code, PageControl control, const DriveModel& model, const DriveState& state) {
  const auto codes = ModePageCodes(model);
  if (std::find(codes.begin(), codes.end(), code) == codes.end()) return {};
  switch (code) {
    case kPageErrorRecovery:
      if (control == kChangeableValues) return ErrorRecoveryMask();
      if (control == kDefaultValues) return DefaultErrorRecovery();
      return Stored(state.page01, DefaultErrorRecovery());
    case kPageWriteParameters:
      if (control == kChangeableValues) return WriteParametersMask(model);
      if (control == kDefaultValues) return DefaultWriteParameters(model);
      return Stored(state.page05, DefaultWriteParameters(model));
    case kPageBufferLink:
      if (control == kChangeableValues) return BufferLinkMask();
      if (control == kDefaultValues) return DefaultBufferLink();
      return Stored(state.page30, DefaultBufferLink());
    case kPageCapabilities: {
      std::vector<uint8_t> page = Capabilities(model, state);
      if (control == kChangeableValues) std::fill(page.begin() + 2, page.end(), 0);
      return page;
    }
  }
  return {};
}

std::optional<Sense> SelectModePages(const uint8_t* list, uint32_t length, const DriveModel& model,
                                     DriveState& state) {
  if (length == 0) return std::nullopt;
  if (length < kHeaderLength) return Sense(kIllegalRequest, asc::kParameterListLengthError);
  // MMC drives take no block descriptors.
  if (Be16(list + 6) != 0) return InvalidParameterField(6);
  std::vector<uint8_t> page01, page05, page30;
  for (uint32_t at = kHeaderLength; at < length;) {
    if (length - at < 2) return Sense(kIllegalRequest, asc::kParameterListLengthError);
    const uint8_t* p = list + at;
    if (p[0] & 0x40) return InvalidParameterField(static_cast<uint16_t>(at), 6);  // sub-page format
    const uint8_t code = p[0] & 0x3F;
    const uint32_t size = 2u + p[1];
    if (size > length - at) return Sense(kIllegalRequest, asc::kParameterListLengthError);
    const std::vector<uint8_t> current = ModePage(code, kCurrentValues, model, state);
    if (current.empty()) return InvalidParameterField(static_cast<uint16_t>(at), 5);
    if (size != current.size()) return InvalidParameterField(static_cast<uint16_t>(at + 1));
    // A field the drive does not let change must keep its current value.
    const std::vector<uint8_t> mask = ModePage(code, kChangeableValues, model, state);
    for (uint32_t i = 2; i < size; ++i)
      if (((p[i] ^ current[i]) & ~mask[i]) != 0) return InvalidParameterField(static_cast<uint16_t>(at + i));
    std::vector<uint8_t> page(p, p + size);
    page[0] = code;  // PS is reserved in MODE SELECT
    if (code == kPageWriteParameters) {
      if (auto sense = CheckWriteParameters(page.data(), at, model, state)) return sense;
      page05 = std::move(page);
    } else if (code == kPageErrorRecovery) {
      page01 = std::move(page);
    } else if (code == kPageBufferLink) {
      page30 = std::move(page);
    }
    at += size;
  }
  if (!page01.empty()) state.page01 = std::move(page01);
  if (!page05.empty()) state.page05 = std::move(page05);
  if (!page30.empty()) state.page30 = std::move(page30);
  return std::nullopt;
}

}  // namespace qv::vdrive
