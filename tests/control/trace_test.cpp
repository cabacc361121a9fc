// The automation layer's trace to the debugger output.
#include <string>

#include "control/trace.h"
#include "support/test_support.h"

namespace {

using qv::control::QVX;

TEST(Trace, FormatsIntoOneOutput) {
  qvtest::LogCapture out;
  QVX("\n%s(%p): %s failed, exception %ld\n", "CDevice::Load", static_cast<void*>(nullptr), "Quorvane_X()", 8L);
  const std::string text = out.Text();
  EXPECT_EQ(text.rfind("\nCDevice::Load(", 0), 0u);
  EXPECT_NE(text.find("): Quorvane_X() failed, exception 8\n"), std::string::npos);
}

// Up to 4095 characters fit the buffer; more go out whole from the heap.
struct Length {
  size_t characters;
  bool allocates;
};

class TraceLength : public ::testing::TestWithParam<Length> {};

TEST_P(TraceLength, IsOutputInFull) {
  std::string text(GetParam().characters, 'x');
  text.front() = '<';
  text.back() = '>';
  qvtest::LogCapture out;
  QVX("%s", text.c_str());
  if (GetParam().allocates)
    EXPECT_EQ(out.Text(), std::string("QVX() : Allocating memory!!!\n").append(text).append("QVX() : Free memory!!!\n"));
  else
    EXPECT_EQ(out.Text(), text);
}

INSTANTIATE_TEST_SUITE_P(Lengths, TraceLength,
                         ::testing::Values(Length{2, false}, Length{4095, false}, Length{4096, true},
                                           Length{10000, true}));

}  // namespace
