#include "cdb_fuzz.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "vdrive/builtin.h"
#include "vdrive/faults.h"
#include "vdrive/json_util.h"
#include "vdrive/model.h"
#include "vdrive/qvdrive.h"
#include "vdrive/unit_state.h"

namespace qvtest {

namespace {
void* g_handles[5];
}

const std::string& UseFuzzHome() {
  // Kept to the end, so the clean-up at exit still has it.
  static const std::string* home = [] {
    auto* path = new std::string((std::filesystem::temp_directory_path() / ("qv-fuzz-" + std::to_string(getpid()))).string());
    std::filesystem::remove_all(*path);
    std::filesystem::create_directories(*path);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(*home, ec);
    });
    return path;
  }();
  setenv("QUORVANE_VDRIVE_HOME", home->c_str(), 1);
  return *home;
}

void PrepareFuzzDrives() {
  if (g_handles[0] != nullptr) return;
  UseFuzzHome();
  // A mixed-mode CD (data, audio, pauses, indexes) and a two-layer DVD+R
  // reach every branch of the information and READ CD commands.
  QvDrive_Create("cd", nullptr, nullptr);
  QvDrive_InsertDisc("cd", QUORVANE_DISCS_DIR "/mixed-mode-cd.json");
  QvDrive_Create("dvd", nullptr, "PIONEER:DVD-RW DVR-111D");
  QvDrive_InsertDisc("dvd", QUORVANE_DISCS_DIR "/dvd+r-dl.json");
  QvDrive_Create("empty", nullptr, nullptr);
  // Blank writable discs reach the recording commands: sequential, and
  // random access once formatted.
  QvDrive_Create("blank", "cd-rw", nullptr);
  QvDrive_Create("plus", "dvd+rw", nullptr);
  const char16_t* names[] = {u"cd", u"dvd", u"empty", u"blank", u"plus"};
  for (int i = 0; i < 5; ++i) QvSptd_Ordinal45(names[i], 0, &g_handles[i]);
}

const char* RunCdbFuzzInput(const uint8_t* data, size_t size) {
  PrepareFuzzDrives();
  if (size < 4) return nullptr;
  static const uint8_t kLengths[] = {6, 10, 12, 16, 0, 5, 17, 255};
  QVDRIVE_REQUEST r{};
  r.cdbLength = kLengths[data[0] & 7];
  r.direction = static_cast<uint8_t>((data[0] >> 3) % 4);
  r.flags = (data[0] & 0x80) ? QVDRIVE_FLAG_TIMING : 0;
  const uint32_t bufferSize = static_cast<uint32_t>(data[1]) << (data[2] & 0x0F);
  void* handle = g_handles[data[3] % 5];
  data += 4;
  size -= 4;
  std::memcpy(r.cdb, data, std::min<size_t>(size, 16));
  data += std::min<size_t>(size, 16);
  size -= std::min<size_t>(size, 16);
  // Exactly the buffer the request names, so any overrun is caught.
  std::vector<uint8_t> buffer(bufferSize);
  if (!buffer.empty() && size > 0) std::memcpy(buffer.data(), data, std::min<size_t>(size, buffer.size()));
  r.buffer = buffer.empty() ? nullptr : buffer.data();
  r.bufferSize = bufferSize;
  const uint32_t door = QvSptd_Ordinal47(handle, &r);
  if (door == 0 && r.transferred > bufferSize) return "transferred more than the buffer holds";
  if (r.senseLength > sizeof r.sense) return "sense longer than its field";
  if (door == 0 && r.scsiStatus == 2 && r.senseLength != 18) return "CHECK CONDITION without sense";
  if (door != 0 && door != 87) return "a door error other than invalid parameter";
  // Whatever happened, the drive still answers.
  QVDRIVE_REQUEST tur{};
  tur.cdbLength = 6;
  if (QvSptd_Ordinal47(handle, &tur) != 0) return "the drive stopped answering";
  return nullptr;
}

namespace {
// Reads a document; if the reader takes it, checks the round trip.
template <class Read, class Write>
const char* RoundTrip(const nlohmann::json& j, Read read, Write write, const char* what) {
  try {
    const nlohmann::json once = write(read(j));
    if (write(read(once)) != once) return what;
  } catch (const qv::vdrive::BadJson&) {
  } catch (const nlohmann::json::exception&) {
  }
  return nullptr;
}
}  // namespace

const char* RunJsonFuzzInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (j.is_discarded()) return nullptr;
  using namespace qv::vdrive;
  if (auto e = RoundTrip(j, ModelFromJson, ModelToJson, "model round trip")) return e;
  if (auto e = RoundTrip(j, StateFromJson, StateToJson, "state round trip")) return e;
  return RoundTrip(j, FaultsFromJson, FaultsToJson, "faults round trip");
}

}  // namespace qvtest
