// libFuzzer target: a drive answering garbage to the burner-grabber. Every
// answer - status, sense, the bytes that come and how many the transport
// says came - is taken from the input; creation and every query and
// control operation must end in success or an engine exception, with no
// crash, over-read or undefined behaviour, in virtual time.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "core/exception.h"
#include "core/settings.h"
#include "record/burner_grabber.h"
#include "platform/clock.h"

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
  size_t Take(uint8_t* out, size_t n) {
    n = std::min(n, size_ - std::min(pos_, size_));
    if (n) std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class GarbageTransport : public CQuorvane_ScsiTransport {
 public:
  explicit GarbageTransport(Input* in)
      : CQuorvane_ScsiTransport("CQuorvane_ScsiTransportFuzz", "CQuorvane_ScsiTransportFuzz::ExecuteCDB"), in_(in) {
    m__UCHAR__DeviceType = 5;
    m__ULONG__MaximumTransferLength = kQuorvaneScsiMaximumTransferLength;
  }

 protected:
  void Deliver(Attempt& a) override {
    // Out of input: the drive refuses everything from now on, so every
    // loop ends.
    const uint8_t kind = in_->Empty() ? 0xFF : in_->Byte();
    if (kind >= 0xF0) {
      a.targetStatus = 2;
      a.sense[0] = 0x70;
      a.sense[2] = 5;
      a.sense[12] = 0x20;
      return;
    }
    a.good = true;
    if (a.dataOut || a.buffer == nullptr) return;
    // How many bytes the drive sends, and how many the transport says came.
    const size_t sent = std::min<size_t>(in_->Word(), a.bufferSize);
    const size_t got = in_->Take(static_cast<uint8_t*>(a.buffer), sent);
    a.transferred = (kind & 1) ? static_cast<uint32_t>(got) : static_cast<uint32_t>(in_->Word());
  }

 private:
  Input* in_;
};

template <class Body>
void Try(Body&& body) {
  try {
    body();
  } catch (CQuorvane_Exception* e) {
    delete e;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qv::plat::VirtualClock clock;
  qv::plat::ScopedClock useClock(&clock);
  Input in(data, size);
  // Reading true track ends costs up to 150 commands per track; let the
  // input choose.
  const uint8_t settings = in.Byte();
  Quorvane_SetFastReadTOC(settings & 1);
  Quorvane_SetFastReadTOCLastTrack((settings >> 1) & 1);
  std::unique_ptr<CQuorvane_CdvdBurnerGrabber> g;
  Try([&] { g = std::make_unique<CQuorvane_CdvdBurnerGrabber>(new GarbageTransport(&in), nullptr, nullptr, 1); });
  if (!g) return 0;
  uint8_t u[10];
  uint32_t l[4];
  auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
  QUORVANE_DISC_INFORMATION disc;
  QUORVANE_TRACK_INFORMATION track;
  auto buffer = std::make_unique<uint8_t[]>(4096);
  Try([&] { g->GetInsertedDiscType(); });
  Try([&] { g->GetDiscInformation(&disc); });
  Try([&] { g->GetTrackInformation(1, &track); });
  Try([&] { g->GetTrackInformation(0xFF, &track); });
  Try([&] { g->ReadTrackInformation(2, buffer.get(), 4096, DISC_TYPE_DVDPLUSRW); });
  Try([&] { g->ReadTrackInformation(1, buffer.get(), 4096, DISC_TYPE_DVDRW_RO); });
  Try([&] { g->GetTOCInformation(toc.get()); });
  Try([&] { g->GetCdvdSpeeds(l, l + 1, l + 2, l + 3); });
  Try([&] { g->SetCdvdSpeeds(1, 2); });
  Try([&] { g->GetBUP(u, u + 1); });
  Try([&] { g->SetBUP(true); });
  Try([&] { g->GetMediaTrayStatus(u, u + 1); });
  Try([&] { g->GetDVDProtectionSystem(u); });
  Try([&] { g->GetDVDRegionMask(u); });
  Try([&] { g->GetRPC(u, u + 1, u + 2, u + 3, u + 4); });
  Try([&] { g->ReadDVDPLUSRDLBoundaryInformation(l, u); });
  Try([&] { g->GetSupportedMediaFormatsEx(u, u + 1, u + 2, u + 3, u + 4, u + 5); });
  Try([&] { g->ProbeSupportedWriteModes(u, u + 1, u + 2, u + 3); });
  Try([&] { g->ProbeSupportedReadModes(u, u + 1, u + 2, u + 3, u + 4, u + 5); });
  Try([&] { g->RestoreWriteParameters(2); });
  Try([&] { g->TestUnitReady(3, false); });
  return 0;
}
