// The automation layer's trace to the debugger output.
#include <string>

#include "control/trace.h"
#include "support/test_support.h"

namespace {

using qv::control::QVX;

// Up to 4095 characters fit the buffer; more go out whole from the heap.
TEST(Trace, LongTextsAreOutputInFull) {
  for (size_t characters : {4095, 4096}) {
    std::string text(characters, 'x');
    text.front() = '<';
    text.back() = '>';
    qvtest::LogCapture out;
    QVX("%s", text.c_str());
    EXPECT_EQ(out.Text(), characters < 4096 ? text
                                            : "QVX() : Allocating memory!!!\n" + text + "QVX() : Free memory!!!\n")
        << characters;
  }
}

}  // namespace
