#include "record/cue_sheet.h"

#include <cstring>

#include "core/log.h"

namespace {

constexpr uint8_t kCtlAdrData = 0x41;   // data track, Q mode 1
constexpr uint8_t kCtlAdrAudio = 0x01;  // two-channel audio, Q mode 1
constexpr uint8_t kLeadOutTrack = 0xAA;
constexpr int32_t kPregapBlocks = 150;
constexpr int32_t kMsfLimit = 450000;

// DATA FORM: the host sends 2048-byte Mode 1, 2352-byte audio, Mode 2 or
// raw-with-P-W blocks; the drive generates the lead-in and lead-out.
uint8_t TrackForm(const QuorvaneI_CueTrack& t, bool xa) {
  if (t.rawPW) return 0x40;
  if (t.audio) return 0x00;
  return (t.mode2 || xa) ? 0x20 : 0x10;
}

uint8_t LeadInForm(const QuorvaneI_CueTrack& first, bool xa, bool rawPW) {
  if (rawPW && first.rawPW) return 0x41;
  if (first.audio) return 0x01;
  return (first.mode2 || xa) ? 0x24 : 0x14;
}

uint8_t LeadOutForm(const QuorvaneI_CueTrack& last, bool xa) {
  if (last.rawPW) return xa ? 0x24 : 0x14;
  if (last.audio) return 0x01;
  return (last.mode2 || xa) ? 0x24 : 0x14;
}

// An address from -150 as absolute time: LBA + 150 = 75 x (60 x M + S) + F.
void PutEntry(uint8_t* e, uint8_t ctlAdr, uint8_t track, uint8_t index, uint8_t form, int32_t lba) {
  e[0] = ctlAdr;
  e[1] = track;
  e[2] = index;
  e[3] = form;
  e[4] = 0;  // SCMS
  if (lba < -kPregapBlocks || lba >= kMsfLimit) return;
  const int32_t frames = lba + kPregapBlocks;
  e[5] = static_cast<uint8_t>(frames / (75 * 60));
  e[6] = static_cast<uint8_t>(frames / 75 % 60);
  e[7] = static_cast<uint8_t>(frames % 75);
}

}  // namespace

size_t QuorvaneI_CompileCueSheet(const QuorvaneI_CueTrack* tracks, int32_t count, bool xa, bool rawPW,
                                 uint8_t out[kQuorvaneCueSheetBytes]) {
  std::memset(out, 0, kQuorvaneCueSheetBytes);
  if (tracks == nullptr || count < 1 || count > kQuorvaneCueSheetTracks) return 0;
  const auto ctlAdr = [](const QuorvaneI_CueTrack& t) { return t.audio ? kCtlAdrAudio : kCtlAdrData; };
  uint8_t* e = out;
  PutEntry(e, ctlAdr(tracks[0]), 0, 0, LeadInForm(tracks[0], xa, rawPW), -kPregapBlocks);
  e += 8;
  int32_t address = -kPregapBlocks;
  for (int32_t i = 0; i < count; ++i) {
    const QuorvaneI_CueTrack& t = tracks[i];
    const auto number = static_cast<uint8_t>(i + 1);
    QuorvaneI_Log("\nCQuorvane_CdvdBurnerGrabber::CompileCueSheet(): Track %ld, Size %ld\n", static_cast<long>(i),
                  static_cast<long>(t.sizeInBlocks));
    PutEntry(e, ctlAdr(t), number, 0, TrackForm(t, xa), address);
    address += kPregapBlocks + t.pregapExtraBlocks;
    PutEntry(e + 8, ctlAdr(t), number, 1, TrackForm(t, xa), address);
    e += 16;
    address += t.sizeInBlocks + t.postgapBlocks;
  }
  const QuorvaneI_CueTrack& last = tracks[count - 1];
  PutEntry(e, ctlAdr(last), kLeadOutTrack, 1, LeadOutForm(last, xa), address);
  return static_cast<size_t>(e + 8 - out);
}
