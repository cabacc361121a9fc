// QEMU boots our El Torito images: once without emulation, once from a
// 1.44 MB floppy image. The boot code prints "OK" on the serial port and
// leaves through the debug-exit port (exit status 33).
#include <filesystem>
#include <fstream>

#include "iso_support.h"

namespace {

namespace fs = std::filesystem;

// mov dx,0x3f8; mov al,'O'; out dx,al; mov al,'K'; out dx,al;
// mov al,0x10; out 0xf4,al; hlt; cli; hlt
const std::string kBootCode("\xBA\xF8\x03\xB0\x4F\xEE\xB0\x4B\xEE\xB0\x10\xE6\xF4\xFA\xF4", 15);

class Boot : public ::testing::TestWithParam<const char*> {};

TEST_P(Boot, QemuBootsTheImage) {
  QVTEST_REQUIRE_PROGRAM("qemu-system-x86_64");
  qvtest::TempDir dir;
  const std::string emulation = GetParam();
  std::string boot = kBootCode;
  if (emulation == "floppy") boot.resize(1474560, '\0');
  const fs::path bootImage = dir.Write("boot.img", boot);
  dir.Write("src/readme.txt", "a bootable disc");
  const fs::path iso = dir / "boot.iso";
  std::string output;
  ASSERT_EQ(qvtest::RunCommand(std::string(qvtest::BinaryDir()) + "/cli/quorvane image iso --quiet --out '" +
                                   iso.string() + "' --boot '" + bootImage.string() + "' --boot-emulation " +
                                   emulation + " '" + (dir / "src").string() + "'",
                               &output),
            0)
      << output;
  const int code = qvtest::RunCommand(
      "timeout 60 qemu-system-x86_64 -nodefaults -display none -serial stdio -m 32 -boot d -cdrom '" + iso.string() +
          "' -device isa-debug-exit,iobase=0xf4,iosize=0x04 2>/dev/null",
      &output);
  EXPECT_EQ(code, 33) << output;
  EXPECT_NE(output.find("OK"), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(Emulations, Boot, testing::Values("none", "floppy"));

}  // namespace
