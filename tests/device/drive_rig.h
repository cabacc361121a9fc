// The burner-grabber on a virtual drive, in virtual time: the drive with
// its disc and identity, fault rules that refuse, cut or garble its
// answers, and the commands the engine sent it.
#pragma once
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "engine_drive.h"
#include "record/burner_grabber.h"
#include "scsi/scsi_fixtures.h"
#include "scsi/transport_spti.h"
#include "vdrive/command_log.h"

namespace devtest {

using Bytes = std::vector<uint8_t>;
using nlohmann::json;
using scsitest::Catch;
using scsitest::Fails;

// Fault rules as the drive folder's faults.json holds them.
inline json Rule(const char* kind, int opcode, json more = json::object()) {
  more["kind"] = kind;
  more["opcode"] = opcode;
  return more;
}
inline json Refuse(int opcode, uint8_t key, uint8_t asc, uint8_t ascq, json more = json::object()) {
  more["sense"] = {key, asc, ascq};
  return Rule("sense", opcode, more);
}
inline json Cut(int opcode, uint32_t length, json more = json::object()) {
  more["length"] = length;
  return Rule("short", opcode, more);
}
inline json Garble(int opcode, uint32_t offset, const Bytes& bytes, json more = json::object()) {
  more["offset"] = offset;
  more["bytes"] = bytes;
  return Rule("corrupt", opcode, more);
}
// Matches MODE SENSE of one page's current values.
inline json CurrentPage(uint8_t page) { return {{"cdb", {2, page, 0xFF}}}; }
// A rule's match that holds for every command, not just the first.
inline json Always(json more = json::object()) {
  more["times"] = 0;
  return more;
}
inline json CdbByte(uint8_t at, uint8_t value, uint8_t mask = 0xFF) { return Always({{"cdb", {at, value, mask}}}); }
inline Bytes Be16(uint32_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
inline Bytes Be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
// An answer as a whole: its bytes, and no more of the drive's own.
inline std::vector<json> Answer(int opcode, const Bytes& bytes, const json& pick = Always()) {
  return {Garble(opcode, 0, bytes, pick), Cut(opcode, static_cast<uint32_t>(bytes.size()), pick)};
}
inline std::vector<json> With(std::vector<json> rules, const std::vector<json>& more) {
  rules.insert(rules.end(), more.begin(), more.end());
  return rules;
}

class DeviceTest : public qvtest::EngineDrive {
 protected:
  // A drive with a blank disc of the medium (nullptr: an empty tray), as
  // "VENDOR:PRODUCT" or the default recorder, armed with the rules, then
  // the grabber on it once the disc spun up. A test may make its drive
  // again: the commands counted are then the new drive's.
  CQuorvane_CdvdBurnerGrabber& Create(const char* media = "cd-rw", const char* model = nullptr,
                                      const std::vector<json>& rules = {}, uint32_t cacheMB = 1) {
    Forget();
    Make(media, model);
    Arm(rules);
    return Grab(cacheMB);
  }
  // The same with a disc of a description (the README's "Disc descriptions").
  CQuorvane_CdvdBurnerGrabber& CreateWith(const json& disc, const std::vector<json>& rules = {}) {
    Insert(disc);
    Arm(rules);
    return Grab(1);
  }
  // A new drive holding the described disc, still spinning it up.
  void Insert(const json& disc, const char* model = nullptr) {
    Forget();
    Make(nullptr, model);
    const auto path = home.path() / "disc.json";
    std::ofstream(path) << disc.dump();
    EXPECT_EQ(QvDrive_InsertDisc("CdRom0", path.string().c_str()), 0u) << disc.dump();
  }
  void TearDown() override {
    grabber_.reset();
    EngineDrive::TearDown();
  }
  // Replaces the drive's rules.
  void Arm(const std::vector<json>& rules) {
    const std::string text = json{{"rules", rules}}.dump();
    ASSERT_EQ(QvDrive_SetFaults("CdRom0", text.c_str()), 0u) << text;
  }

  std::vector<uint8_t> Opcodes() const {
    std::vector<uint8_t> ops;
    for (const auto& c : Sent()) ops.push_back(c.cdb[0]);
    return ops;
  }
  size_t Count(uint8_t opcode) const {
    const auto ops = Opcodes();
    return static_cast<size_t>(std::count(ops.begin(), ops.end(), opcode));
  }
  // The CDB and data out of the n-th command of an opcode; empty when none.
  Bytes Cdb(uint8_t opcode, size_t n = 0) const { return Nth(opcode, n).cdb; }
  Bytes Out(uint8_t opcode, size_t n = 0) const { return Nth(opcode, n).out; }

  // The commands sent to the drive made last.
  std::vector<qv::vdrive::LoggedCommand> Sent() const {
    auto all = commands.Commands();
    all.erase(all.begin(), all.begin() + static_cast<long>(std::min(first_, all.size())));
    return all;
  }
  // Drops the drive and whatever was opened on it.
  void Forget() {
    grabber_.reset();
    if (handle) Quorvane_CdvdBurnerGrabber_Destroy(&handle);
    QvDrive_Delete("CdRom0");
    first_ = commands.Commands().size();
  }

  qv::vdrive::CommandLog commands;

 private:
  CQuorvane_CdvdBurnerGrabber& Grab(uint32_t cacheMB) {
    home.clock().Advance(5000);
    grabber_ = std::make_unique<CQuorvane_CdvdBurnerGrabber>(new CQuorvane_ScsiTransportSPTI("CdRom0"), nullptr,
                                                             nullptr, cacheMB);
    return *grabber_;
  }
  qv::vdrive::LoggedCommand Nth(uint8_t opcode, size_t n) const {
    for (const auto& c : Sent())
      if (c.cdb[0] == opcode && n-- == 0) return c;
    return {};
  }
  std::unique_ptr<CQuorvane_CdvdBurnerGrabber> grabber_;
  size_t first_ = 0;
};

}  // namespace devtest
