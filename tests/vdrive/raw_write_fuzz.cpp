// The fuzz body of the drive's raw (write type 3) decoder: each input
// is a raw disc-at-once recording on a blank CD-R whose lead-in lasts ten
// sectors, so inputs reach the program area and the lead-out. Byte 0
// picks the block type (bit 0: formatted P-Q, else P-W, packed when bit 2
// is set) and whether the harness mends each Q's CRC (bit 1), which lets the fuzzer past the
// drive's CRC check. Then per sector: ten Q bytes and, for raw P-W, 72
// bytes of R-W (96 six-bit symbols: CD-Text packs in the lead-in). The
// drive may refuse any WRITE; it must not crash, overrun a buffer, or stop
// answering, and the disc it decoded must read back through READ TOC,
// READ SUB-CHANNEL and READ CD.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cdb_fuzz.h"
#include "vdrive/qvdrive.h"

namespace qvtest {
namespace {

void* g_drive = nullptr;
std::string g_blank;
const char* g_problem = nullptr;

void Prepare() {
  const std::string& home = UseFuzzHome();
  if (g_drive != nullptr) return;
  g_blank = home + "/blank.json";
  // Lead-in from -160 (99:59:65); room for 2100 blocks.
  std::ofstream(g_blank) << R"({"media": "cd-r", "leadIn": "99:59:65", "lastLeadOut": "00:30:00", "sessions": []})";
  QvDrive_Create("raw", nullptr, nullptr);
  // A disc that is ready at once: every input starts with a fresh one.
  const std::string modelPath = home + "/raw/model.json";
  nlohmann::json model = nlohmann::json::parse(std::ifstream(modelPath));
  model["becomingReadyMs"] = 0;
  std::ofstream(modelPath) << model.dump();
  QvSptd_Ordinal45(u"raw", 0, &g_drive);
}

// Sends a command; notes what no drive may do. True when GOOD.
bool Send(std::vector<uint8_t> cdb, uint8_t direction, uint8_t* data, uint32_t size) {
  QVDRIVE_REQUEST r{};
  std::memcpy(r.cdb, cdb.data(), cdb.size());
  r.cdbLength = static_cast<uint8_t>(cdb.size());
  r.direction = direction;
  r.buffer = data;
  r.bufferSize = size;
  // A well-formed request always reaches the drive.
  if (QvSptd_Ordinal47(g_drive, &r) != 0) g_problem = "a well-formed request refused at the door";
  if (r.transferred > size) g_problem = "transferred more than the buffer holds";
  if (r.scsiStatus == 2 && r.senseLength != 18) g_problem = "CHECK CONDITION without sense";
  if (std::getenv("QV_RAW_FUZZ_TRACE") != nullptr && r.scsiStatus != 0)
    std::fprintf(stderr, "%02X: %d %02X/%02X\n", cdb[0], r.scsiStatus, r.sense[2] & 0x0F, r.sense[12]);
  return r.scsiStatus == 0;
}

uint16_t QCrc(const uint8_t* q) {
  uint32_t crc = 0;
  for (int i = 0; i < 10; ++i) {
    crc ^= uint32_t{q[i]} << 8;
    for (int k = 0; k < 8; ++k) crc = crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1;
  }
  return static_cast<uint16_t>(~crc);
}

}  // namespace

const char* RunRawWriteFuzzInput(const uint8_t* data, size_t size) {
  Prepare();
  g_problem = nullptr;
  if (size < 1) return nullptr;
  if (QvDrive_InsertDisc("raw", g_blank.c_str()) != 0) return "a blank disc not taken";
  for (int i = 0; i < 3 && !Send({0, 0, 0, 0, 0, 0}, QVDRIVE_DIR_NONE, nullptr, 0); ++i) {
  }
  const bool rawPw = (data[0] & 1) == 0, mend = (data[0] & 2) != 0;
  // Page 05h: write type 3, the block type, a closed disc.
  std::vector<uint8_t> page(8 + 52, 0);
  page[1] = static_cast<uint8_t>(page.size() - 2);
  page[8] = 0x05;
  page[9] = 50;
  page[10] = 0x03;
  page[12] = rawPw ? ((data[0] & 4) ? 2 : 3) : 1;
  Send({0x55, 0x10, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(page.size()), 0}, QVDRIVE_DIR_OUT, page.data(),
       static_cast<uint32_t>(page.size()));

  const size_t record = rawPw ? 82 : 10, sectorBytes = rawPw ? 2448 : 2368;
  std::vector<uint8_t> batch;
  int32_t lba = -160;
  bool refused = false;
  auto flush = [&] {
    if (batch.empty() || refused) return;
    const auto n = static_cast<uint32_t>(batch.size() / sectorBytes);
    const auto a = static_cast<uint32_t>(lba);
    refused = !Send({0x2A, 0, uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a), 0, uint8_t(n >> 8),
                     uint8_t(n), 0},
                    QVDRIVE_DIR_OUT, batch.data(), static_cast<uint32_t>(batch.size()));
    lba += static_cast<int32_t>(n);
    batch.clear();
  };
  for (size_t at = 1; at + record <= size && !refused; at += record) {
    uint8_t q[12];
    std::memcpy(q, data + at, 10);
    const uint16_t crc = mend ? QCrc(q) : static_cast<uint16_t>(data[at] << 8 | data[at + 1]);
    q[10] = static_cast<uint8_t>(crc >> 8);
    q[11] = static_cast<uint8_t>(crc);
    const size_t start = batch.size();
    batch.resize(start + sectorBytes, 0);
    uint8_t* sub = &batch[start + 2352];
    if (!rawPw) {
      std::memcpy(sub, q, 12);
    } else {
      const uint8_t* rw = data + at + 10;
      for (int i = 0; i < 96; ++i) {
        const int bit = i * 6;
        const uint32_t pair = uint32_t{rw[bit / 8]} << 8 | (bit / 8 + 1 < 72 ? rw[bit / 8 + 1] : 0);
        sub[i] = static_cast<uint8_t>((pair >> (10 - bit % 8)) & 0x3F);
        if (q[i / 8] & (0x80 >> (i % 8))) sub[i] |= 0x40;
      }
    }
    if (batch.size() / sectorBytes == 8) flush();
  }
  flush();
  // Where a seed stops being taken, for whoever writes seeds.
  if (std::getenv("QV_RAW_FUZZ_TRACE") != nullptr) std::fprintf(stderr, "refused: %d, next %d\n", refused, lba);
  Send({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, QVDRIVE_DIR_NONE, nullptr, 0);

  // Whatever was decoded reads back.
  std::vector<uint8_t> answer(65536);
  for (uint8_t format : {0, 1, 2, 5})
    Send({0x43, 0x02, format, 0, 0, 0, 0, 0xFF, 0xFF, 0}, QVDRIVE_DIR_IN, answer.data(), 0xFFFF);
  for (uint8_t format : {1, 2, 3})
    Send({0x42, 0, 0x40, format, 0, 0, 1, 0, 48, 0}, QVDRIVE_DIR_IN, answer.data(), 48);
  Send({0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 0x01, 0}, QVDRIVE_DIR_IN, answer.data(), 2448);
  return g_problem;
}

}  // namespace qvtest
