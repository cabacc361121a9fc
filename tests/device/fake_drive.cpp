#include "fake_drive.h"

#include <algorithm>
#include <cstring>

namespace devtest {

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v >> 16);
  Put16(b, at + 2, v);
}
void PutLe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
Bytes Be32(uint32_t v) {
  Bytes b(4);
  Put32(b, 0, v);
  return b;
}

FakeDrive::FakeDrive() {
  On(0x00, [](const Bytes&, const Bytes&) { return Reply::Good(); });
  On(0x12, [this](const Bytes&, const Bytes&) { return Inquiry(); });
  On(0x5A, [this](const Bytes& cdb, const Bytes&) { return ModeSense(cdb); });
  On(0x55, [this](const Bytes&, const Bytes& out) { return ModeSelect(out); });
  On(0x46, [this](const Bytes& cdb, const Bytes&) { return GetConfiguration(cdb); });
}

Reply FakeDrive::Answer(const Bytes& cdb, const Bytes& out) {
  if (beforeCommand) beforeCommand(cdb[0]);
  auto h = handlers_.find(cdb[0]);
  if (h == handlers_.end()) return Reply::Invalid();
  return h->second(cdb, out);
}

size_t FakeDrive::Count(uint8_t opcode) const {
  return static_cast<size_t>(std::count_if(sent.begin(), sent.end(), [&](const Sent& s) { return s.cdb[0] == opcode; }));
}

Bytes FakeDrive::Cdb(uint8_t opcode, size_t n) const {
  for (const Sent& s : sent)
    if (s.cdb[0] == opcode && n-- == 0) return s.cdb;
  return {};
}

Bytes FakeDrive::Out(uint8_t opcode, size_t n) const {
  for (const Sent& s : sent)
    if (s.cdb[0] == opcode && n-- == 0) return s.out;
  return {};
}

std::vector<uint8_t> FakeDrive::Opcodes() const {
  std::vector<uint8_t> ops;
  for (const Sent& s : sent) ops.push_back(s.cdb[0]);
  return ops;
}

Reply FakeDrive::Inquiry() const {
  Bytes b(36, ' ');
  b[0] = deviceType;
  b[1] = 0x80;
  b[2] = 0x05;
  b[3] = 0x32;
  b[4] = 31;
  b[5] = b[6] = b[7] = 0;
  std::copy_n(vendor.begin(), std::min<size_t>(8, vendor.size()), b.begin() + 8);
  std::copy_n(product.begin(), std::min<size_t>(16, product.size()), b.begin() + 16);
  std::copy_n(revision.begin(), std::min<size_t>(4, revision.size()), b.begin() + 32);
  return Reply::Good(b);
}

Reply FakeDrive::ModeSense(const Bytes& cdb) {
  const uint8_t code = cdb[2] & 0x3F, control = cdb[2] >> 6;
  const Bytes* page = nullptr;
  if (control == 2 && defaultPages.count(code)) page = &defaultPages[code];
  else if (currentPages.count(code)) page = &currentPages[code];
  if (page == nullptr) return Reply::InvalidField();
  Bytes b(8, 0);
  Put16(b, 0, static_cast<uint32_t>(6 + page->size()));
  b.insert(b.end(), page->begin(), page->end());
  return Reply::Good(b);
}

Reply FakeDrive::ModeSelect(const Bytes& out) {
  if (out.size() < 10) return Reply::Sense(5, 0x1A, 0x00);  // parameter list length error
  const size_t at = 8 + (size_t{out[6]} << 8 | out[7]);
  if (at + 2 > out.size()) return Reply::Sense(5, 0x1A, 0x00);
  const uint8_t code = out[at] & 0x3F;
  const Bytes page(out.begin() + static_cast<long>(at), out.end());
  if (page.size() != size_t{page[1]} + 2u || (out[at] & 0x80)) return Reply::Sense(5, 0x26, 0x00);
  if (code == 0x05 && rejectWriteParameters && rejectWriteParameters(page)) return Reply::Sense(5, 0x26, 0x00);
  if (!currentPages.count(code)) return Reply::Sense(5, 0x26, 0x00);
  currentPages[code] = page;
  return Reply::Good();
}

Reply FakeDrive::GetConfiguration(const Bytes& cdb) const {
  if (profile == 0xFFFF) return Reply::Invalid();
  const uint8_t rt = cdb[1] & 0x03;
  const uint16_t start = static_cast<uint16_t>(cdb[2] << 8 | cdb[3]);
  Bytes b(8, 0);
  Put16(b, 6, profile);
  auto add = [&](uint16_t code, const Bytes& data) {
    const size_t at = b.size();
    b.resize(at + 4);
    Put16(b, at, code);
    b[at + 2] = 0x01;  // current
    b[at + 3] = static_cast<uint8_t>(data.size());
    b.insert(b.end(), data.begin(), data.end());
  };
  std::map<uint16_t, Bytes> all = features;
  Bytes list(4, 0);
  Put16(list, 0, profile);
  list[2] = 0x01;
  all[0x0000] = list;
  for (const auto& [code, data] : all) {
    if (rt == 2 ? code == start : code >= start) add(code, data);
  }
  Put32(b, 0, static_cast<uint32_t>(b.size() - 4));
  return Reply::Good(b);
}

FakeTransport::FakeTransport(FakeDrive* drive, bool* destroyed)
    : CQuorvane_ScsiTransport("CQuorvane_ScsiTransportFake", "CQuorvane_ScsiTransportFake::ExecuteCDB"),
      drive_(drive),
      destroyed_(destroyed) {
  m__UCHAR__PortId = 1;
  m__UCHAR__PathId = 0;
  m__UCHAR__TargetId = 2;
  m__UCHAR__LUN = 0;
  m__UCHAR__DeviceType = drive->deviceType;
  m__ULONG__MaximumTransferLength = kQuorvaneScsiMaximumTransferLength;
}

FakeTransport::~FakeTransport() {
  if (destroyed_) *destroyed_ = true;
}

void FakeTransport::Deliver(Attempt& a) {
  const Bytes cdb(a.cdb, a.cdb + a.cdbLength);
  Bytes out;
  if (a.dataOut && a.buffer) out.assign(static_cast<uint8_t*>(a.buffer), static_cast<uint8_t*>(a.buffer) + a.bufferSize);
  drive_->sent.push_back({cdb, out, a.bufferSize});
  const Reply r = drive_->Answer(cdb, out);
  a.targetStatus = r.status;
  a.good = r.status == 0;
  if (r.status == 2) {
    a.sense[0] = 0x70;
    a.sense[2] = r.key;
    a.sense[7] = 10;
    a.sense[12] = r.asc;
    a.sense[13] = r.ascq;
  }
  if (a.dataOut || a.buffer == nullptr) return;
  const size_t n = std::min<size_t>(r.data.size(), a.bufferSize);
  if (a.good && n > 0) std::memcpy(a.buffer, r.data.data(), n);
  a.transferred = r.transferred >= 0 ? static_cast<uint32_t>(r.transferred) : static_cast<uint32_t>(n);
}

Bytes CapabilitiesPage(uint8_t readBits, uint8_t writeBits, uint16_t bufferKB, uint16_t maxRead, uint16_t currentRead,
                       uint16_t maxWrite, uint16_t currentWrite, uint8_t byte4) {
  Bytes p(30, 0);
  p[0] = 0x2A;
  p[1] = 0x1C;
  p[2] = readBits;
  p[3] = writeBits;
  p[4] = byte4;
  Put16(p, 8, maxRead);
  Put16(p, 12, bufferKB);
  Put16(p, 14, currentRead);
  Put16(p, 18, maxWrite);
  Put16(p, 20, currentWrite);
  return p;
}

Bytes WriteParametersPage() {
  Bytes p(52, 0);
  p[0] = 0x85;  // PS set, as drives report a savable page
  p[1] = 0x32;
  p[2] = 0x01;  // track-at-once
  p[3] = 0x04;
  p[4] = 0x08;
  p[15] = 150;  // audio pause length
  return p;
}

Bytes TocEntry(uint8_t session, uint8_t adrControl, uint8_t point, uint8_t pm, uint8_t ps, uint8_t pf, uint8_t m,
               uint8_t s, uint8_t f) {
  return {session, adrControl, 0, point, m, s, f, 0, pm, ps, pf};
}

Bytes FullToc(uint8_t firstSession, uint8_t lastSession, const std::vector<Bytes>& entries) {
  Bytes b(4, 0);
  for (const Bytes& e : entries) b.insert(b.end(), e.begin(), e.end());
  Put16(b, 0, static_cast<uint32_t>(b.size() - 2));
  b[2] = firstSession;
  b[3] = lastSession;
  return b;
}

Bytes DiscInformation(uint8_t statusByte, uint8_t firstTrack, uint8_t sessions, uint8_t firstInLast,
                      uint8_t lastInLast) {
  Bytes b(34, 0);
  Put16(b, 0, 32);
  b[2] = statusByte;
  b[3] = firstTrack;
  b[4] = sessions;
  b[5] = firstInLast;
  b[6] = lastInLast;
  return b;
}

Bytes TrackInformation(const TrackInfo& t) {
  Bytes b(36, 0);
  Put16(b, 0, 34);
  b[2] = t.track;
  b[3] = t.session;
  b[5] = static_cast<uint8_t>((t.damage ? 0x20 : 0) | (t.copy ? 0x10 : 0) | (t.trackMode & 0x0F));
  b[6] = static_cast<uint8_t>((t.reserved ? 0x80 : 0) | (t.blank ? 0x40 : 0) | (t.packet ? 0x20 : 0) |
                              (t.fixedPacket ? 0x10 : 0) | (t.dataMode & 0x0F));
  b[7] = t.nwaValid ? 0x01 : 0;
  Put32(b, 8, t.start);
  Put32(b, 12, t.nwa);
  Put32(b, 16, t.free);
  Put32(b, 20, t.packetSize);
  Put32(b, 24, t.size);
  return b;
}

Bytes IsoPrimaryVolumeDescriptor(uint32_t volumeSpaceSize) {
  Bytes b(2048, 0);
  b[0] = 1;
  std::memcpy(&b[1], "CD001", 5);
  b[6] = 1;
  PutLe32(b, 80, volumeSpaceSize);
  Put32(b, 84, volumeSpaceSize);
  return b;
}

Rig::Rig(uint32_t cacheSizeInMB) : cacheSizeInMB_(cacheSizeInMB) {
  drive.currentPages[0x2A] = CapabilitiesPage(0x3B, 0x37, 2048);
  drive.currentPages[0x05] = WriteParametersPage();
}

CQuorvane_CdvdBurnerGrabber& Rig::Create() {
  grabber_ = std::make_unique<CQuorvane_CdvdBurnerGrabber>(new FakeTransport(&drive, &transportDestroyed), nullptr,
                                                           nullptr, cacheSizeInMB_);
  return *grabber_;
}

}  // namespace devtest
