// The status record every C entry point fills.
#include <cstring>
#include <memory>
#include <stdexcept>

#include "core/status.h"
#include "support/test_support.h"

namespace {

CDB_FAILURE_INFORMATION* SampleFailure() {
  auto* f = QuorvaneI_NewFailureInformation();
  f->m__UCHAR__IsValid = 1;
  f->m__UCHAR__CDBLength = 10;
  f->m__UCHAR__CDB[0] = 0x2A;
  f->m__UCHAR__CDB[5] = 0x10;
  f->m__UCHAR__SenseLength = 32;
  f->m__UCHAR__Sense[0] = 0x70;
  f->m__UCHAR__Sense[2] = 0x05;
  f->m__UCHAR__Sense[12] = 0x21;
  f->m__UCHAR__TargetStatus = 2;
  f->m__UCHAR__HostAdapterStatus = 0x11;
  return f;
}

struct Case {
  const char* name;
  std::function<void()> body;
  uint32_t number;
  const char* text;  // expected text prefix
  bool systemErrorWritten;
  bool failureFilled;
};

class StatusRecord : public ::testing::TestWithParam<Case> {};

TEST_P(StatusRecord, FillsTheCallersFields) {
  const Case& c = GetParam();
  char text[256];
  std::memset(text, 'x', sizeof text);
  uint32_t systemError = 0xDEADBEEF;
  CDB_FAILURE_INFORMATION failure;
  std::memset(&failure, 0xAA, sizeof failure);

  const uint32_t n = QuorvaneI_Call("Quorvane_Test", text, sizeof text, &systemError, &failure, c.body);

  EXPECT_EQ(n, c.number);
  if (c.text) {
    EXPECT_EQ(std::string(text).rfind(c.text, 0), 0u) << text;
  } else {
    EXPECT_EQ(text[0], 'x') << "text buffer untouched on success";
  }
  EXPECT_EQ(systemError, c.systemErrorWritten ? 1223u : 0xDEADBEEFu);
  CDB_FAILURE_INFORMATION zero{};
  if (c.failureFilled) {
    std::unique_ptr<CDB_FAILURE_INFORMATION> sample(SampleFailure());
    EXPECT_EQ(std::memcmp(&failure, sample.get(), sizeof failure), 0) << "the record copied whole";
  } else {
    EXPECT_EQ(std::memcmp(&failure, &zero, sizeof zero), 0) << "failure record zero-filled";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, StatusRecord,
    ::testing::Values(
        Case{"Success", [] {}, 0, nullptr, false, false},
        Case{"SystemCall", [] { throw new CQuorvane_Exception(5, 1223, "open failed, status %d", 1223); }, 5, "open failed, status 1223", true, false},
        Case{"CdbFailed", [] { throw new CQuorvane_Exception(8, reinterpret_cast<uintptr_t>(SampleFailure()), "Command failed"); }, 8, "Command failed", false, true},
        Case{"CdbFailedWithoutRecord", [] { throw new CQuorvane_Exception(8, 0, "Command failed"); }, 8, "Command failed", false, false},
        Case{"NullException", [] { throw static_cast<CQuorvane_Exception*>(nullptr); }, 12, "Exception was not allocated", false, false},
        Case{"OtherNumberKeepsSystemError", [] { throw new CQuorvane_Exception(17, 99, "not found"); }, 17, "not found", false, false},
        Case{"BadAlloc", [] { throw std::bad_alloc(); }, 4, "Memory allocation failed", false, false},
        Case{"StdException", [] { throw std::runtime_error("boom"); }, 1, "Undefined error", false, false},
        Case{"AnythingElse", [] { throw 42; }, 1, "Undefined error", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The text is cut to the caller's buffer, with nothing written past it; a
// zero size or null pointers are safe.
TEST(StatusRecordText, TruncatesToTheCallersBuffer) {
  const std::string message = "System call failed badly";
  const uint32_t n = static_cast<uint32_t>(message.size());
  for (uint32_t size : {0u, 1u, n, n + 1}) {
    std::string buffer(size + 8, '#');
    uint32_t err = 0;
    EXPECT_EQ(QuorvaneI_Call("Quorvane_Test", buffer.data(), size, &err, nullptr,
                             [&] { throw new CQuorvane_Exception(5, 2, "%s", message.c_str()); }),
              5u);
    if (size) {
      EXPECT_EQ(std::string(buffer.c_str()), message.substr(0, std::min(size - 1, n))) << size;
    }
    EXPECT_EQ(buffer[size], '#') << "nothing written past the buffer, size " << size;
  }
  EXPECT_EQ(QuorvaneI_Call("Quorvane_Test", nullptr, 100, nullptr, nullptr,
                           [] { throw new CQuorvane_Exception(8, reinterpret_cast<uintptr_t>(SampleFailure()), "x"); }),
            8u);
}

// Numbers in the gap of the table and past its end have no text.
TEST(ExceptionTexts, GapsAndTheEndHaveNone) {
  EXPECT_NE(Quorvane_GetExceptionText(22), nullptr);
  EXPECT_EQ(Quorvane_GetExceptionText(23), nullptr);
  EXPECT_EQ(Quorvane_GetExceptionText(1000), nullptr);
}

// Renumbering of read failures from their sense data; the high bits of
// the sense key byte are ignored.
TEST(Mutilate, RenumbersReadFailures) {
  const struct {
    uint32_t number;
    uint8_t valid, key, asc, ascq, opcode;
    uint32_t expected;
  } cases[] = {
      {8, 1, 1, 0x17, 0, 0x28, 0},   // recovered error
      {8, 1, 3, 0x02, 0, 0x28, 27},  // no seek complete
      {8, 1, 3, 0x06, 0, 0x28, 29},
      {8, 1, 3, 0x11, 5, 0xBE, 28},  // unrecovered read error
      {8, 1, 3, 0x0C, 0, 0x28, 8},   // other medium error
      {8, 1, 5, 0x64, 0, 0xBE, 29},  // illegal mode for this track
      {8, 1, 5, 0x24, 0, 0x28, 29},  // invalid field, READ(10)
      {8, 1, 5, 0x24, 1, 0xBE, 8},   // other ASCQ
      {8, 1, 5, 0x24, 0, 0x2A, 8},   // WRITE(10)
      {8, 1, 2, 0x3A, 0, 0x28, 8},   // not ready
      {8, 0, 1, 0x00, 0, 0x28, 8},   // record not valid
      {7, 1, 3, 0x11, 0, 0x28, 7},   // not a CDB failure
  };
  for (const auto& m : cases) {
    CDB_FAILURE_INFORMATION f{};
    f.m__UCHAR__IsValid = m.valid;
    f.m__UCHAR__CDB[0] = m.opcode;
    f.m__UCHAR__Sense[2] = static_cast<uint8_t>(0xE0 | m.key);
    f.m__UCHAR__Sense[12] = m.asc;
    f.m__UCHAR__Sense[13] = m.ascq;
    uint32_t n = m.number;
    Quorvane_MutilateExceptionNumber(&n, &f);
    EXPECT_EQ(n, m.expected) << int{m.key} << "/" << int{m.asc} << "/" << int{m.ascq} << " on " << int{m.opcode};
  }
  uint32_t n = 8;
  Quorvane_MutilateExceptionNumber(&n, nullptr);
  EXPECT_EQ(n, 8u);
}

}  // namespace
