// Recording tests against the virtual drive: an engine, a drive named
// CdRom0 in a home of the test's own, virtual time, images mastered by an
// outside tool, and the drive's own count of the commands it was sent.
#pragma once
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>

#include "device/engine_drive.h"

namespace qvtest {

inline std::vector<uint8_t> ReadAll(const std::filesystem::path& p) {
  const std::string bytes = ReadFile(p);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

inline std::filesystem::path WriteAll(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                            static_cast<std::streamsize>(bytes.size()));
  return p;
}

// Files of a sample folder, by relative path.
using Files = std::map<std::string, std::vector<uint8_t>>;

inline Files SampleFiles(uint32_t seed, size_t bigBytes) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> big(bigBytes);
  for (auto& b : big) b = static_cast<uint8_t>(rng());
  const std::string dir = "s" + std::to_string(seed) + "/", text = "session " + std::to_string(seed) + "\n";
  return {{dir + "big.bin", big}, {dir + "notes/readme.txt", {text.begin(), text.end()}}, {dir + "empty.dat", {}}};
}

class BurnFixture : public EngineDrive {
 protected:
  void SetUp() override {
    EngineDrive::SetUp();
    Quorvane_SetPadding(0);
    Quorvane_SetEjectAfterFail(0);
  }
  // The cache the engine sizes itself unless a test asks.
  QV_ULONG Open(QV_ULONG cacheMB = 0, PQUORVANE_CALLBACK cb = nullptr, void* context = nullptr) {
    return EngineDrive::Open(cacheMB, cb, context);
  }
  // A source file of the test's home, of size bytes all fill.
  std::filesystem::path Source(const std::string& name, size_t size, uint8_t fill) {
    return WriteAll(home.path() / name, std::vector<uint8_t>(size, fill));
  }
  // An ISO 9660/Joliet/Rock Ridge image of the files, made by xorriso.
  std::filesystem::path Master(const Files& files, const std::string& name) {
    const auto folder = home.path() / ("src-" + name), iso = home.path() / (name + ".iso");
    for (const auto& [path, bytes] : files) WriteAll(folder / path, bytes);
    std::string out;
    EXPECT_EQ(RunCommand("xorriso -as mkisofs -quiet -J -r -o '" + iso.string() + "' '" + folder.string() + "'", &out), 0)
        << out;
    return iso;
  }
  QV_ULONG Burn(const std::filesystem::path& iso, bool multi = false, QV_UCHAR mode = 0) {
    return Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFile(handle, QV_STATUS(s), iso.c_str(), mode, 0, multi ? 1 : 0, 1, 1);
  }
  // Arms fault rules (a JSON list's items) on the drive, each command of
  // the counted opcodes (-1: any) counted beside them for Seen.
  void Arm(const std::string& rules, std::initializer_list<int> counted = {}) {
    std::string all = rules;
    for (const int opcode : counted)
      all += std::string(all.empty() ? "" : ", ") + "{\"kind\": \"busy\", \"nth\": 4294967295" +
             (opcode >= 0 ? ", \"opcode\": " + std::to_string(opcode) : std::string()) + "}";
    ASSERT_EQ(QvDrive_SetFaults("CdRom0", ("{\"rules\": [" + all + "]}").c_str()), 0u);
  }
  // Commands of an opcode counted since Arm.
  uint32_t Seen(int opcode) {
    const auto rules = nlohmann::json::parse(ReadFile(home.path() / "CdRom0" / "faults.json"))["rules"];
    for (const auto& r : rules)
      if (r["nth"] == 4294967295u && r.value("opcode", -1) == opcode) return r["seen"].get<uint32_t>();
    ADD_FAILURE() << "opcode " << opcode << " is not counted";
    return 0;
  }
  nlohmann::json Describe() {
    std::string text(1 << 16, '\0');
    uint32_t needed = 0;
    EXPECT_EQ(QvDrive_Describe("CdRom0", text.data(), static_cast<uint32_t>(text.size()), &needed), 0u);
    return nlohmann::json::parse(text.c_str());
  }
  // The disc's blocks [first, first + blocks) through the engine's READ(10).
  std::vector<uint8_t> ReadBack(uint32_t blocks, uint32_t first = 0) {
    std::vector<uint8_t> data(uint64_t{blocks} * 2048);
    for (uint32_t i = 0; i < blocks; i += 16) {
      const uint32_t n = std::min<uint32_t>(16, blocks - i), at = first + i;
      const QV_UCHAR cdb[10] = {0x28, 0, QV_UCHAR(at >> 24), QV_UCHAR(at >> 16), QV_UCHAR(at >> 8), QV_UCHAR(at), 0, 0,
                                QV_UCHAR(n), 0};
      if (Quorvane_CdvdBurnerGrabber_ExecuteCDB(handle, QV_STATUS(s), cdb, 10, data.data() + uint64_t{i} * 2048,
                                                n * 2048, 0) != 0) {
        ADD_FAILURE() << "READ(10) at " << at << ": " << s.text;
        break;
      }
    }
    return data;
  }
  // Exports the disc and extracts it with bsdtar; every file must be there
  // with its bytes.
  void ExpectDiscHolds(const Files& files) {
    const auto image = home.path() / "export.iso", out = home.path() / "extracted";
    ASSERT_EQ(QvDrive_Export("CdRom0", image.c_str()), 0u);
    std::filesystem::create_directories(out);
    std::string text;
    ASSERT_EQ(RunCommand("bsdtar -xf '" + image.string() + "' -C '" + out.string() + "'", &text), 0) << text;
    for (const auto& [path, bytes] : files)
      EXPECT_TRUE(std::filesystem::exists(out / path) && ReadAll(out / path) == bytes) << path;
  }
};

}  // namespace qvtest
