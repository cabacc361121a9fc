#include "vdrive/unit_state.h"

#include <algorithm>
#include <string>

#include "vdrive/json_util.h"

namespace qv::vdrive {

using nlohmann::json;

namespace {

constexpr size_t kMaxEvents = 8;

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : bytes) {
    s += digits[b >> 4];
    s += digits[b & 0x0F];
  }
  return s;
}

std::vector<uint8_t> FromHex(const json& object, const char* key) {
  std::string s;
  if (!ReadText(object, key, 512, &s)) return {};
  if (s.size() % 2 != 0) throw BadJson(std::string("\"") + key + "\" must be pairs of hex digits");
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < s.size(); i += 2) {
    int v = 0;
    for (size_t k = i; k < i + 2; ++k) {
      const char c = s[k];
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) throw BadJson(std::string("\"") + key + "\" must be pairs of hex digits");
      v = v * 16 + d;
    }
    bytes.push_back(static_cast<uint8_t>(v));
  }
  return bytes;
}

}  // namespace

uint16_t DriveState::CurrentProfile(const DriveModel& model) const {
  const Medium* d = ReadyDisc(model);
  return d ? d->profile : uint16_t{kProfileNone};
}

const Medium* DriveState::ReadyDisc(const DriveModel& model) const {
  if (!DiscLoaded() || readyAtMs != 0 || !model.Reads(disc->profile)) return nullptr;
  return &*disc;
}

bool DriveState::Settle(const DriveModel& model, uint64_t nowMs) {
  if (readyAtMs == 0) return false;
  if (nowMs < readyAtMs && readyAtMs - nowMs <= model.becomingReadyMs) return false;
  BecomeReady();
  return true;
}

void DriveState::BecomeReady() {
  readyAtMs = 0;
  unitAttention = asc::kMediumMayHaveChanged;
  PostEvent(MediaEvent::NewMedia);
}

Readiness DriveState::PeekReady(const DriveModel& model) const {
  if (tray == Tray::Open) return Readiness::NoDiscTrayOpen;
  if (!disc) return Readiness::NoDiscTrayClosed;
  if (readyAtMs != 0) return Readiness::BecomingReady;
  if (!model.Reads(disc->profile)) return Readiness::Incompatible;
  return Readiness::Ready;
}

void DriveState::OpenTray() {
  if (tray == Tray::Open) return;
  tray = Tray::Open;
  // A disc that had not finished spinning up was never announced.
  if (disc && readyAtMs == 0) PostEvent(MediaEvent::MediaRemoval);
  readyAtMs = 0;
  pickUp.reset();
  // The speeds SET CD SPEED chose belong to the disc that leaves.
  for (SpeedChoice* choice : {&cdSpeeds, &dvdSpeeds})
    if (!choice->streaming) *choice = SpeedChoice{};
}

void DriveState::CloseTray(const DriveModel& model, uint64_t nowMs) {
  if (tray == Tray::Closed) return;
  tray = Tray::Closed;
  if (!disc) return;
  if (model.becomingReadyMs == 0) return BecomeReady();
  readyAtMs = nowMs + model.becomingReadyMs;
}

void DriveState::Insert(Medium medium, const DriveModel& model, uint64_t nowMs) {
  OpenTray();
  disc = std::move(medium);
  CloseTray(model, nowMs);
}

void DriveState::Remove() {
  OpenTray();
  disc.reset();
  tray = Tray::Closed;
}

void DriveState::PostEvent(MediaEvent event) {
  if (events.size() >= kMaxEvents) events.pop_front();
  events.push_back(event);
}

SpeedChoice& DriveState::Speeds(const DriveModel& model) {
  const Medium* d = ReadyDisc(model);
  return d != nullptr && d->IsDvd() ? dvdSpeeds : cdSpeeds;
}

const SpeedChoice& DriveState::Speeds(const DriveModel& model) const {
  const Medium* d = ReadyDisc(model);
  return d != nullptr && d->IsDvd() ? dvdSpeeds : cdSpeeds;
}

uint32_t DriveState::ReadSpeed(const DriveModel& model) const {
  const Medium* d = ReadyDisc(model);
  const uint32_t maximum = d != nullptr && d->IsDvd() ? model.dvdReadSpeed : model.cdReadSpeed;
  const uint16_t chosen = Speeds(model).read;
  return chosen != 0 ? std::min<uint32_t>(chosen, maximum) : maximum;
}

uint32_t DriveState::WriteSpeed(const DriveModel& model) const {
  const Medium* d = ReadyDisc(model);
  const std::vector<uint32_t>& speeds = d != nullptr && d->IsDvd() ? model.dvdWriteSpeeds : model.cdWriteSpeeds;
  if (speeds.empty()) return 0;
  const uint16_t chosen = Speeds(model).write;
  return chosen != 0 ? PickWriteSpeed(speeds, chosen) : speeds.front();
}

Sense NotReadySense(Readiness readiness) {
  switch (readiness) {
    case Readiness::NoDiscTrayClosed: return Sense(kNotReady, asc::kNoMediumTrayClosed);
    case Readiness::NoDiscTrayOpen: return Sense(kNotReady, asc::kNoMediumTrayOpen);
    case Readiness::BecomingReady: return Sense(kNotReady, asc::kBecomingReady);
    case Readiness::Incompatible: return Sense(kNotReady, asc::kIncompatibleMedium);
    case Readiness::Ready: break;
  }
  return Sense();
}

json StateToJson(const DriveState& s) {
  json events = json::array();
  for (MediaEvent e : s.events) events.push_back(static_cast<int>(e));
  json j{{"tray", s.tray == Tray::Open ? "open" : "closed"},
         {"disc", s.disc ? MediumToJson(*s.disc) : json(nullptr)},
         {"readyAtMs", s.readyAtMs},
         {"unitAttention", s.unitAttention ? json{s.unitAttention->code, s.unitAttention->qualifier} : json(nullptr)},
         {"prevent", s.prevent},
         {"events", events},
         {"vanished", s.vanished}};
  if (!s.page01.empty()) j["page01"] = Hex(s.page01);
  if (!s.page05.empty()) j["page05"] = Hex(s.page05);
  if (!s.page30.empty()) j["page30"] = Hex(s.page30);
  j["cdSpeeds"] = {s.cdSpeeds.read, s.cdSpeeds.write};
  j["dvdSpeeds"] = {s.dvdSpeeds.read, s.dvdSpeeds.write};
  if (s.cdSpeeds.streaming) j["cdStreaming"] = true;
  if (s.dvdSpeeds.streaming) j["dvdStreaming"] = true;
  return j;
}

DriveState StateFromJson(const json& j) {
  if (!j.is_object()) throw BadJson("the state must be a JSON object");
  DriveState s;
  std::string tray = "closed";
  ReadText(j, "tray", 8, &tray);
  if (tray == "open") s.tray = Tray::Open;
  else if (tray != "closed") throw BadJson("\"tray\" must be open or closed");
  if (const json* d = Member(j, "disc")) s.disc = MediumFromJson(*d);
  ReadUnsigned(j, "readyAtMs", 0, UINT64_MAX, &s.readyAtMs);
  if (const json* ua = Member(j, "unitAttention")) {
    if (!ua->is_array() || ua->size() != 2 || !(*ua)[0].is_number_unsigned() || !(*ua)[1].is_number_unsigned() ||
        (*ua)[0].get<uint64_t>() > 255 || (*ua)[1].get<uint64_t>() > 255)
      throw BadJson("\"unitAttention\" must be two numbers from 0 to 255");
    s.unitAttention = Asc{(*ua)[0].get<uint8_t>(), (*ua)[1].get<uint8_t>()};
  }
  ReadUnsigned(j, "prevent", 0, 3, &s.prevent);
  if (const json* ev = Member(j, "events")) {
    if (!ev->is_array() || ev->size() > kMaxEvents) throw BadJson("\"events\" must be a short list");
    for (const auto& e : *ev) {
      if (!e.is_number_unsigned() || e.get<uint64_t>() < 1 || e.get<uint64_t>() > 4)
        throw BadJson("\"events\" holds a media event code other than 1 to 4");
      s.events.push_back(static_cast<MediaEvent>(e.get<int>()));
    }
  }
  s.page01 = FromHex(j, "page01");
  s.page05 = FromHex(j, "page05");
  s.page30 = FromHex(j, "page30");
  if ((!s.page01.empty() && (s.page01.size() != kPage01Length || s.page01[0] != 0x01)) ||
      (!s.page05.empty() && (s.page05.size() != kPage05Length || s.page05[0] != 0x05)) ||
      (!s.page30.empty() && (s.page30.size() != kPage30Length || s.page30[0] != 0x30)))
    throw BadJson("a stored mode page has the wrong code or length");
  for (auto [key, choice] : {std::pair{"cdSpeeds", &s.cdSpeeds}, std::pair{"dvdSpeeds", &s.dvdSpeeds}}) {
    const json* v = Member(j, key);
    if (v == nullptr) continue;
    if (!v->is_array() || v->size() != 2 || !(*v)[0].is_number_unsigned() || !(*v)[1].is_number_unsigned() ||
        (*v)[0].get<uint64_t>() > 0xFFFF || (*v)[1].get<uint64_t>() > 0xFFFF)
      throw BadJson(std::string("\"") + key + "\" must be a read and a write speed from 0 to 65535");
    choice->read = (*v)[0].get<uint16_t>();
    choice->write = (*v)[1].get<uint16_t>();
  }
  ReadBool(j, "cdStreaming", &s.cdSpeeds.streaming);
  ReadBool(j, "dvdStreaming", &s.dvdSpeeds.streaming);
  ReadBool(j, "vanished", &s.vanished);
  if (!s.disc || s.tray == Tray::Open) s.readyAtMs = 0;
  return s;
}

}  // namespace qv::vdrive
