// A drive model: what the drive says it is and what it can do. Kept in the
// drive folder's model.json; INQUIRY, the capabilities page and the feature
// list are built from it.
#pragma once
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

namespace qv::vdrive {

// The SCSI address every virtual drive sits on: this host adapter, path 0,
// target = the number of its device name, LUN 0.
inline constexpr uint8_t kVirtualHostAdapter = 16;

struct DriveModel {
  // Identity.
  std::string vendor = "QUORVANE";          // INQUIRY, 8 characters
  std::string product = "Virtual Recorder";  // 16 characters
  std::string revision = "1.00";            // 4 characters
  std::string serial = "QV00000000";        // unit serial number
  std::string deviceName = "CdRom0";        // the name the doors serve
  uint8_t address[4] = {kVirtualHostAdapter, 0, 0, 0};
  uint8_t deviceType = 5;                    // peripheral device type
  uint32_t physicalInterface = 2;            // Core feature: 1 SCSI, 2 ATAPI

  // Capabilities.
  std::vector<uint16_t> readProfiles;   // profiles the drive reads
  std::vector<uint16_t> writeProfiles;  // profiles the drive writes
  bool testWrite = true;
  bool bufferUnderrunFree = true;       // BUFE / BUF
  bool trackAtOnce = true;
  bool sessionAtOnce = true;
  bool rawPq = true;                    // raw writing with P-Q subchannel
  bool rawPw = true;                    // raw writing with P-W subchannel
  uint32_t bufferKiB = 2048;
  uint32_t cdReadSpeed = 8467;          // kB/s: 48x
  uint32_t dvdReadSpeed = 22160;        // 16x
  std::vector<uint32_t> cdWriteSpeeds;  // fastest first
  std::vector<uint32_t> dvdWriteSpeeds;
  uint8_t loadingMechanism = 1;         // 0 caddy, 1 tray, 2 pop-up

  bool page30 = false;                  // vendor page 30h: buffer underrun link control

  // DVD region playback control (REPORT KEY, RPC state).
  uint8_t rpcTypeCode = 0;              // 0 no region set, 1 set, 2 last chance, 3 permanent
  uint8_t rpcVendorResets = 4;
  uint8_t rpcUserChanges = 5;
  uint8_t rpcRegionMask = 0xFF;         // a clear bit is a region the drive plays
  uint8_t rpcScheme = 1;                // RPC Phase II

  // Behaviour.
  uint32_t becomingReadyMs = 1000;      // spin-up after a load: NOT READY 04/01 meanwhile
  uint32_t quirks = 0;                  // Quirk bits: how this model departs from the standard

  bool Has(uint32_t quirk) const { return (quirks & quirk) != 0; }

  bool Reads(uint16_t profile) const;
  bool Writes(uint16_t profile) const;
  bool WritesAny() const { return !writeProfiles.empty(); }
};

// Departures from the standard that real drives have, so that each of the
// engine's workarounds meets the drive it was written for.
enum Quirk : uint32_t {
  kQuirkNoGetConfiguration = 1u << 0,  // GET CONFIGURATION is an invalid opcode
  kQuirkEjectNeedsTaoImmed = 1u << 1,  // ejects only with IMMED and track-at-once write parameters
  kQuirkRejectsBufe = 1u << 2,         // MODE SELECT of page 05h with BUFE set fails
  kQuirkZeroPerformanceEnd = 1u << 3,  // write speed descriptors give end LBA 0
};
// "no-get-configuration", ... and back; 0 for an unknown name.
uint32_t QuirkByName(const std::string& name);
std::vector<std::string> QuirkNames(uint32_t quirks);

// The default recorder: reads and writes every media type.
DriveModel DefaultModel();

// The speed a drive picks for a request: a write speed it supports at or
// below the request (the slowest when all are above, the fastest for
// FFFFh); a read speed up to its maximum. 0 keeps the current choice.
uint32_t PickWriteSpeed(const std::vector<uint32_t>& speeds, uint32_t requested);
uint32_t PickReadSpeed(uint32_t maximum, uint32_t requested);

nlohmann::json ModelToJson(const DriveModel& model);
// Throws BadJson naming the key that is wrong.
DriveModel ModelFromJson(const nlohmann::json& json);

}  // namespace qv::vdrive
