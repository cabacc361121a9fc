// Talking to a virtual drive the way the engine's transports will: the
// pass-through library loaded by module name, its entries found by
// ordinal, raw CDBs in and data, status and sense out.
#pragma once
#include <cstdint>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "support/vdrive_fixture.h"

namespace qvtest {

struct Reply {
  uint32_t door = 0;  // the door's own result
  uint8_t status = 0;
  std::vector<uint8_t> sense;
  std::vector<uint8_t> data;  // what the drive transferred
  uint64_t timing2 = 0;  // microseconds the command took, with QVDRIVE_FLAG_TIMING

  uint8_t key() const { return sense.size() > 2 ? sense[2] & 0x0F : 0; }
  uint8_t asc() const { return sense.size() > 12 ? sense[12] : 0; }
  uint8_t ascq() const { return sense.size() > 13 ? sense[13] : 0; }
  bool Good() const { return door == 0 && status == 0; }
  // "02/3A/01", or "GOOD", "BUSY", "door 1167", for messages and EXPECT_EQ.
  std::string Outcome() const;
  uint32_t Be16At(size_t at) const { return uint32_t{data.at(at)} << 8 | data.at(at + 1); }
  uint32_t Be32At(size_t at) const { return Be16At(at) << 16 | Be16At(at + 2); }
};

// The pass-through library's entries, resolved as the engine does.
struct PassThrough {
  PassThrough();
  ~PassThrough();
  qv::plat::LibraryHandle library = nullptr;
  uint32_t (*enumerate)(uint32_t, uint32_t, uint32_t*, void**, QVSPTD_PROGRESS) = nullptr;
  uint32_t (*open)(const char16_t*, uint32_t, void**) = nullptr;
  uint32_t (*close)(void*) = nullptr;
  uint32_t (*send)(void*, QVDRIVE_REQUEST*) = nullptr;
  uint32_t (*free)(void*) = nullptr;
};

class DoorClient {
 public:
  // Opens a drive by device or folder name; openError() tells how it went.
  explicit DoorClient(const std::string& name);
  ~DoorClient();
  DoorClient(const DoorClient&) = delete;
  DoorClient& operator=(const DoorClient&) = delete;

  uint32_t openError() const { return openError_; }
  const std::string& name() const { return name_; }
  // A command with data to the host (up to dataIn bytes), or none.
  Reply In(const std::vector<uint8_t>& cdb, uint32_t dataIn = 0, uint32_t flags = 0);
  // A command with data from the host.
  Reply Out(const std::vector<uint8_t>& cdb, const std::vector<uint8_t>& data);
  // Any request, as given.
  Reply Raw(QVDRIVE_REQUEST& request);

  // Sends TEST UNIT READY until it answers GOOD (at most n times) and
  // returns the outcomes on the way; while the disc spins up, virtual
  // time moves on by kSpinUpStepMs between them.
  static constexpr uint32_t kSpinUpStepMs = 500;
  std::vector<std::string> UntilReady(int n = 10);

 private:
  PassThrough lib_;
  std::string name_;
  void* handle_ = nullptr;
  uint32_t openError_ = 0;
};

// A drive made in the current home; fails the test when it cannot be.
void MakeDrive(const std::string& name, const char* media, const char* model = nullptr);
// The same under a name of its own ("d0", "d1", ...), which it returns.
std::string NewDrive(const char* media, const char* model = nullptr);
// A mode page as a host sends it back: MODE SENSE(10) of page with control
// (0 current, 2 default), the header cleared, PS clear.
std::vector<uint8_t> ModeList(DoorClient& d, uint8_t page, uint8_t control = 0);
// MODE SELECT(10) of a whole parameter list.
Reply Select(DoorClient& d, const std::vector<uint8_t>& list);
// Rewrites some keys of a drive's model.json, as a person configuring a
// model would.
void EditModel(const VirtualDriveHome& home, const std::string& name, const nlohmann::json& changes);
// Loads a disc description: a file of vdrive/discs, or the given text
// written to a file in dir (relative sources are found there).
void InsertPrepared(const std::string& drive, const std::string& file);
void InsertDescription(const std::string& drive, const std::filesystem::path& dir, const std::string& json);
// The last management failure's text.
std::string VdriveErrorText();
// Page 05h with write type, data block type, test write and multi-session.
void SetPage05(DoorClient& d, uint8_t writeType, uint8_t blockType, bool test = false, bool multi = false);
// The disc as the drive describes it.
nlohmann::json DiscOf(const std::string& drive);

// Tests with a drive home of their own.
class VdriveTest : public ::testing::Test {
 protected:
  VirtualDriveHome home;
  // A new drive with media, or with a prepared disc (a file of
  // vdrive/discs), open and ready.
  DoorClient& Ready(const char* media, const char* prepared = nullptr, const char* model = nullptr);

 private:
  std::vector<std::unique_ptr<DoorClient>> clients_;
};

// CDBs.
std::vector<uint8_t> ModeSense10(uint8_t page, uint8_t control = 0, uint16_t allocation = 4096);
std::vector<uint8_t> ModeSelect10(uint16_t length);
std::vector<uint8_t> Read10(uint32_t lba, uint16_t blocks);
std::vector<uint8_t> StartStop(bool loej, bool start);
std::vector<uint8_t> ReadToc(uint8_t format, bool msf, uint8_t number = 0, uint16_t allocation = 4096);
// byte9: main channel selection; sub: sub-channel selection; sectorType: expected sector type.
std::vector<uint8_t> ReadCd(int32_t lba, uint32_t count, uint8_t byte9, uint8_t sub = 0, uint8_t sectorType = 0);
std::vector<uint8_t> Write10(int32_t lba, uint16_t blocks);
std::vector<uint8_t> SendCue(uint32_t length);
inline std::vector<uint8_t> SyncCache() { return {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}; }
inline std::vector<uint8_t> CloseSession() { return {0x5B, 0, 2, 0, 0, 1, 0, 0, 0, 0}; }
inline std::vector<uint8_t> Inquiry() { return {0x12, 0, 0, 0, 96, 0}; }
// Media events, polled; a feature list from feature 0 (rt 0: all, 2: that one).
inline std::vector<uint8_t> GetEventStatus(uint8_t classes) { return {0x4A, 1, 0, 0, classes, 0, 0, 0, 8, 0}; }
inline std::vector<uint8_t> GetConfiguration(uint8_t rt) { return {0x46, rt, 0, 0, 0, 0, 0, 0x10, 0, 0}; }
inline std::vector<uint8_t> Prevent(uint8_t field) { return {0x1E, 0, 0, 0, field, 0}; }
inline std::vector<uint8_t> TestUnitReady() { return {0x00, 0, 0, 0, 0, 0}; }
inline std::vector<uint8_t> ReadCapacity() { return {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}; }

}  // namespace qvtest
