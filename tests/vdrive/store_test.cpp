// The drive folders and both doors: making, listing and removing drives,
// opening by name, and damaged folders. (Exclusive use across processes is
// the command's busy drive in CliOutcomes.ADriveInUseIsBusy.)
#include <cstring>
#include <set>
#include <nlohmann/json.hpp>

#include "door_client.h"

namespace qvtest {
namespace {

using Store = VdriveTest;

std::vector<std::string> List() {
  uint32_t needed = 0;
  EXPECT_EQ(QvDrive_List(nullptr, 0, &needed), 122u);
  std::string buffer(needed, 'x');
  EXPECT_EQ(QvDrive_List(buffer.data(), needed, &needed), 0u);
  EXPECT_EQ(buffer.back(), '\0');
  std::vector<std::string> names;
  for (const char* p = buffer.c_str(); *p; p += std::strlen(p) + 1) names.push_back(p);
  return names;
}

TEST_F(Store, NamesModelsAndMediaAreChecked) {
  struct Case {
    const char* name;
    const char* media;
    const char* model;
    uint32_t result;
  } cases[] = {
      {"ok-name_1.2", "cd-r", "A:B", 0},
      {".hidden", nullptr, nullptr, 123},
      {"x23456789012345678901234567890123456789012345678901234567890123456", nullptr, nullptr, 123},
      {"m", nullptr, "TOOLONGVENDOR:X", 87},
      {"m", nullptr, "V:P\x01", 87},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QvDrive_Create(c.name, c.media, c.model), c.result) << c.name << " " << (c.model ? c.model : "");
  }
  EXPECT_EQ(List(), std::vector<std::string>{"ok-name_1.2"}) << "failures leave nothing behind";
  EXPECT_EQ(QvDrive_InsertMedia("missing", "cd-r"), 2u);
}

TEST_F(Store, HomeDefaultsPerUser) {
  char path[4096];
  ASSERT_EQ(QvDrive_Home(path, sizeof path), 0u);
  EXPECT_EQ(std::string(path), home.path().string());
  EXPECT_EQ(QvDrive_Home(path, 3), 122u);
  unsetenv("QUORVANE_VDRIVE_HOME");
  const char* xdg = std::getenv("XDG_STATE_HOME");
  const std::string savedXdg = xdg ? xdg : "";
  setenv("XDG_STATE_HOME", "/x/state", 1);
  ASSERT_EQ(QvDrive_Home(path, sizeof path), 0u);
  EXPECT_EQ(std::string(path), "/x/state/quorvane/vdrives");
  unsetenv("XDG_STATE_HOME");
  ASSERT_EQ(QvDrive_Home(path, sizeof path), 0u);
  EXPECT_EQ(std::string(path), std::string(std::getenv("HOME")) + "/.local/state/quorvane/vdrives");
  if (xdg) setenv("XDG_STATE_HOME", savedXdg.c_str(), 1);
  setenv("QUORVANE_VDRIVE_HOME", home.path().c_str(), 1);
}

// The entries' layout is read by the run-time library's transport, which
// finds the drive by name in the scsi_vdrive tests, and quorvane devices
// lists them; here, the names.
TEST_F(Store, OpeningByName) {
  MakeDrive("b-drive", "cd-r", "TEAC:DV-W58G:1.0A");
  MakeDrive("a-drive", nullptr);
  EXPECT_EQ(List(), (std::vector<std::string>{"a-drive", "b-drive"}));
  for (const char* name : {"CdRom0", "cdrom0", "\\\\.\\CdRom0", "B-DRIVE"}) {
    DoorClient d(name);
    ASSERT_EQ(d.openError(), 0u) << name;
    EXPECT_EQ(d.In(Inquiry(), 96).data.at(8), 'T') << name;
  }
  for (const char* name : {"CdRom7", "", "CdRom"}) EXPECT_EQ(DoorClient(name).openError(), 2u) << name;
  // A freed device name is given to the next drive.
  ASSERT_EQ(QvDrive_Delete("b-drive"), 0u);
  MakeDrive("c-drive", nullptr);
  EXPECT_EQ(DoorClient("CdRom0").In(Inquiry(), 96).data.at(8), 'Q');
}

// Damaged folders: every call says what is wrong and nothing in the folder
// is lost; one row per kind of damage (the JSON fuzzer tries the rest, and
// vdrive list's test shows invalid JSON to the user).
TEST_F(Store, DamagedFilesGiveClearErrors) {
  using namespace std::string_literals;
  const struct {
    const char* file;
    std::string content;
    const char* says;
  } cases[] = {
      {"state.json", "[]", "state.json: the state must be a JSON object"},
      {"state.json", R"({"disc": {"type": "dvd+r", "capacity": 2147483647}})", "between 1 and 2298496"},
      {"state.json", "{}\0{\"tray\": \"open\"}"s, "NUL byte at offset 2"},
      {"model.json", R"({"reads": ["cd-r"], "writes": ["dvd-r"]})", "\"writes\" names a media type"},
      {"model.json", R"({"bufferKiB": 0})", "\"bufferKiB\" of a drive that writes is at least 64"},
      {"model.json", R"({"dvdWriteSpeeds": []})", "\"dvdWriteSpeeds\" lists no speed"},
      {"faults.json", R"({"rules": [{"kind": 1}]})", "faults.json"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    const std::string name = NewDrive("cd-rom");
    const auto path = home.path() / name / c.file;
    std::ofstream(path) << c.content;
    char json[8192];
    uint32_t needed = 0;
    EXPECT_EQ(QvDrive_Describe(name.c_str(), json, sizeof json, &needed), 13u);
    EXPECT_NE(VdriveErrorText().find(c.says), std::string::npos) << VdriveErrorText();
    EXPECT_EQ(QvDrive_InsertMedia(name.c_str(), "cd-r"), 13u);
    EXPECT_EQ(DoorClient(name).openError(), 2u);
    EXPECT_EQ(ReadFile(path), c.content) << "left as it was";
    ASSERT_EQ(QvDrive_Delete(name.c_str()), 0u) << "a damaged drive can still be removed";
  }
}

// A drive that cannot save its state (a full disk, say) keeps its old disc.
TEST_F(Store, AFailedChangeKeepsTheOldDisc) {
  TempDir work;
  const auto one = work.Write("one.img", std::string(4096, '1'));
  const auto two = work.Write("two.img", std::string(4096, '2'));
  MakeDrive("d", nullptr);
  ASSERT_EQ(QvDrive_InsertImage("d", one.c_str(), nullptr), 0u);
  // Where state.json is written first, something that is not a file.
  std::filesystem::create_directory(home.path() / "d" / ".state.json.tmp");
  EXPECT_NE(QvDrive_InsertImage("d", two.c_str(), nullptr), 0u);
  EXPECT_NE(VdriveErrorText().find("cannot save"), std::string::npos) << VdriveErrorText();
  EXPECT_NE(QvDrive_Eject("d"), 0u);
  std::filesystem::remove(home.path() / "d" / ".state.json.tmp");
  DoorClient d("d");
  ASSERT_EQ(d.UntilReady().back(), "GOOD");
  const Reply r = d.In(Read10(0, 2), 4096);
  EXPECT_EQ(std::string(r.data.begin(), r.data.end()), std::string(4096, '1'));
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(home.path() / "d"))
    files.insert(entry.path().filename().string());
  EXPECT_EQ(files, (std::set<std::string>{"disc.img", "lock", "model.json", "state.json", "users"}))
      << "no copies left behind";
}

// The engine's side of this door is the scsi_vdrive tests'; here, what
// it relies on: a name the drive does not serve is left to the OS, and a
// device handle outlives the driver until it is closed.
TEST_F(Store, AuxiliaryDriverDoor) {
  void* driver = nullptr;
  EXPECT_EQ(QvDralik_Attach(&driver), 2u) << "no drives, no driver";
  MakeDrive("d", "cd-rom");
  ASSERT_EQ(QvDralik_Attach(&driver), 0u);
  DRALIK_OPEN_BLOCK o{};
  o.magic = QVDRALIK_MAGIC;
  std::strcpy(o.name, "CdRom5");
  EXPECT_EQ(QvDralik_Control(driver, DRALIK_IOCTL_OPEN, &o, sizeof o), 2u) << "left to the OS";
  std::strcpy(o.name, "CdRom0");
  ASSERT_EQ(QvDralik_Control(driver, DRALIK_IOCTL_OPEN, &o, sizeof o), 0u);
  QVDRIVE_REQUEST r{};
  r.cdbLength = 6;  // TEST UNIT READY
  EXPECT_EQ(QvDralik_Detach(driver), 0u);
  EXPECT_EQ(QvDralik_PassThrough(o.handle, &r), 0u);
  EXPECT_EQ(QvDralik_CloseDevice(o.handle), 0u);
  EXPECT_EQ(QvDralik_PassThrough(o.handle, &r), 6u);
}

}  // namespace
}  // namespace qvtest
