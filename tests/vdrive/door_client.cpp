#include "door_client.h"

#include <cstdio>

#include "platform/clock.h"

namespace qvtest {

namespace {
uint8_t B(uint32_t v, int shift) { return static_cast<uint8_t>(v >> shift); }
std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }
}  // namespace

std::string Reply::Outcome() const {
  char text[32];
  if (door != 0) std::snprintf(text, sizeof text, "door %u", door);
  else if (status == 0) std::snprintf(text, sizeof text, "GOOD");
  else if (status == 8) std::snprintf(text, sizeof text, "BUSY");
  else std::snprintf(text, sizeof text, "%02X/%02X/%02X", key(), asc(), ascq());
  return text;
}

PassThrough::PassThrough() {
  uint32_t err = 0;
  const qv::plat::ModuleFile doors{QV_DOORS_DEFAULT_LIBRARY, QV_PASSTHROUGH_ORDINAL_PREFIX};
  library = qv::plat::LoadLibraryByName(QV_PASSTHROUGH_MODULE, &err, &doors);
  if (library == nullptr) return;
  enumerate = reinterpret_cast<decltype(enumerate)>(qv::plat::GetLibraryOrdinal(library, 44, &err));
  open = reinterpret_cast<decltype(open)>(qv::plat::GetLibraryOrdinal(library, 45, &err));
  close = reinterpret_cast<decltype(close)>(qv::plat::GetLibraryOrdinal(library, 46, &err));
  send = reinterpret_cast<decltype(send)>(qv::plat::GetLibraryOrdinal(library, 47, &err));
  free = reinterpret_cast<decltype(free)>(qv::plat::GetLibraryOrdinal(library, 48, &err));
}

PassThrough::~PassThrough() { qv::plat::FreeLibraryHandle(library); }

DoorClient::DoorClient(const std::string& name) : name_(name) {
  if (lib_.open == nullptr) {
    ADD_FAILURE() << "the pass-through library did not load";
    openError_ = 126;
    return;
  }
  openError_ = lib_.open(Wide(name).c_str(), 0, &handle_);
}

DoorClient::~DoorClient() {
  if (handle_ != nullptr) {
    EXPECT_EQ(lib_.close(handle_), 0u);
  }
}

Reply DoorClient::Raw(QVDRIVE_REQUEST& r) {
  Reply reply;
  reply.door = lib_.send(handle_, &r);
  reply.status = r.scsiStatus;
  reply.sense.assign(r.sense, r.sense + std::min<size_t>(r.senseLength, sizeof r.sense));
  if (r.direction == QVDRIVE_DIR_IN && r.buffer != nullptr)
    reply.data.assign(static_cast<uint8_t*>(r.buffer), static_cast<uint8_t*>(r.buffer) + r.transferred);
  reply.timing2 = r.timing2;
  return reply;
}

Reply DoorClient::In(const std::vector<uint8_t>& cdb, uint32_t dataIn, uint32_t flags) {
  QVDRIVE_REQUEST r{};
  std::copy(cdb.begin(), cdb.end(), r.cdb);
  r.cdbLength = static_cast<uint8_t>(cdb.size());
  std::vector<uint8_t> buffer(dataIn, 0xCC);  // not zero, so untouched bytes show
  r.direction = dataIn > 0 ? QVDRIVE_DIR_IN : QVDRIVE_DIR_NONE;
  r.buffer = dataIn > 0 ? buffer.data() : nullptr;
  r.bufferSize = dataIn;
  r.flags = flags;
  r.timeoutSeconds = 108000;
  return Raw(r);
}

Reply DoorClient::Out(const std::vector<uint8_t>& cdb, const std::vector<uint8_t>& data) {
  QVDRIVE_REQUEST r{};
  std::copy(cdb.begin(), cdb.end(), r.cdb);
  r.cdbLength = static_cast<uint8_t>(cdb.size());
  std::vector<uint8_t> buffer = data;
  r.direction = QVDRIVE_DIR_OUT;
  r.buffer = buffer.empty() ? nullptr : buffer.data();
  r.bufferSize = static_cast<uint32_t>(buffer.size());
  return Raw(r);
}

std::vector<std::string> DoorClient::UntilReady(int n) {
  std::vector<std::string> outcomes;
  for (int i = 0; i < n; ++i) {
    outcomes.push_back(In(TestUnitReady()).Outcome());
    if (outcomes.back() == "GOOD") break;
    if (outcomes.back() == "02/04/01") qv::plat::SleepMs(kSpinUpStepMs);
  }
  return outcomes;
}

void MakeDrive(const std::string& name, const char* media, const char* model) {
  ASSERT_EQ(QvDrive_Create(name.c_str(), media, model), 0u) << VdriveErrorText();
}

std::string NewDrive(const char* media, const char* model) {
  static int n = 0;
  const std::string name = "d" + std::to_string(n++);
  MakeDrive(name, media, model);
  return name;
}

DoorClient& VdriveTest::Ready(const char* media, const char* prepared, const char* model) {
  const std::string name = NewDrive(media, model);
  if (prepared != nullptr) InsertPrepared(name, prepared);
  clients_.push_back(std::make_unique<DoorClient>(name));
  DoorClient& d = *clients_.back();
  EXPECT_EQ(d.UntilReady().back(), "GOOD") << name;
  return d;
}

std::vector<uint8_t> ModeList(DoorClient& d, uint8_t page, uint8_t control) {
  const Reply r = d.In(ModeSense10(page, control), 4096);
  EXPECT_TRUE(r.Good()) << r.Outcome();
  std::vector<uint8_t> list = r.data;
  std::fill(list.begin(), list.begin() + std::min<size_t>(8, list.size()), 0);
  if (list.size() > 8) list[8] &= 0x3F;
  return list;
}

Reply Select(DoorClient& d, const std::vector<uint8_t>& list) {
  return d.Out(ModeSelect10(static_cast<uint16_t>(list.size())), list);
}

void EditModel(const VirtualDriveHome& home, const std::string& name, const nlohmann::json& changes) {
  const auto path = home.path() / name / "model.json";
  nlohmann::json model = nlohmann::json::parse(ReadFile(path));
  model.update(changes);
  std::ofstream(path) << model.dump();
}

std::string VdriveErrorText() {
  char text[1024] = {};
  QvDrive_LastErrorText(text, sizeof text);
  return text;
}

std::vector<uint8_t> ModeSense10(uint8_t page, uint8_t control, uint16_t allocation) {
  return {0x5A, 0, static_cast<uint8_t>(control << 6 | page), 0, 0, 0, 0, B(allocation, 8), B(allocation, 0), 0};
}

std::vector<uint8_t> ModeSelect10(uint16_t length) {
  return {0x55, 0x10, 0, 0, 0, 0, 0, B(length, 8), B(length, 0), 0};
}

std::vector<uint8_t> Read10(uint32_t lba, uint16_t blocks) {
  return {0x28, 0, B(lba, 24), B(lba, 16), B(lba, 8), B(lba, 0), 0, B(blocks, 8), B(blocks, 0), 0};
}

std::vector<uint8_t> StartStop(bool loej, bool start) {
  return {0x1B, 0, 0, 0, static_cast<uint8_t>((loej ? 2 : 0) | (start ? 1 : 0)), 0};
}

void InsertPrepared(const std::string& drive, const std::string& file) {
  const std::string path = std::string(QUORVANE_DISCS_DIR) + "/" + file;
  ASSERT_EQ(QvDrive_InsertDisc(drive.c_str(), path.c_str()), 0u) << file << ": " << VdriveErrorText();
}

void InsertDescription(const std::string& drive, const std::filesystem::path& dir, const std::string& json) {
  const auto path = dir / "disc.json";
  std::ofstream(path) << json;
  ASSERT_EQ(QvDrive_InsertDisc(drive.c_str(), path.c_str()), 0u) << VdriveErrorText();
}

std::vector<uint8_t> ReadToc(uint8_t format, bool msf, uint8_t number, uint16_t allocation) {
  return {0x43, static_cast<uint8_t>(msf ? 2 : 0), format, 0, 0, 0, number, B(allocation, 8), B(allocation, 0), 0};
}

std::vector<uint8_t> ReadCd(int32_t lba, uint32_t count, uint8_t byte9, uint8_t sub, uint8_t sectorType) {
  const uint32_t a = static_cast<uint32_t>(lba);
  return {0xBE, static_cast<uint8_t>(sectorType << 2), B(a, 24), B(a, 16), B(a, 8), B(a, 0),
          B(count, 16), B(count, 8), B(count, 0), byte9, sub, 0};
}

std::vector<uint8_t> Write10(int32_t lba, uint16_t blocks) {
  const auto a = static_cast<uint32_t>(lba);
  return {0x2A, 0, B(a, 24), B(a, 16), B(a, 8), B(a, 0), 0, B(blocks, 8), B(blocks, 0), 0};
}

std::vector<uint8_t> SendCue(uint32_t length) { return {0x5D, 0, 0, 0, 0, 0, B(length, 16), B(length, 8), B(length, 0), 0}; }

void SetPage05(DoorClient& d, uint8_t writeType, uint8_t blockType, bool test, bool multi) {
  std::vector<uint8_t> list = ModeList(d, 0x05);
  list[10] = static_cast<uint8_t>((list[10] & 0x40) | (test ? 0x10 : 0) | writeType);
  list[11] = static_cast<uint8_t>((multi ? 0xC0 : 0) | 0x04);
  list[12] = blockType;
  ASSERT_TRUE(Select(d, list).Good());
}

nlohmann::json DiscOf(const std::string& drive) {
  std::string text(1 << 16, '\0');
  uint32_t needed = 0;
  EXPECT_EQ(QvDrive_Describe(drive.c_str(), text.data(), static_cast<uint32_t>(text.size()), &needed), 0u);
  return nlohmann::json::parse(text.c_str())["disc"];
}

}  // namespace qvtest
