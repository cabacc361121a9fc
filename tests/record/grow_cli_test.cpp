// A volume grown on a DVD+RW or DVD-RAM whose first session an outside
// tool made: after burn --multisession, xorriso (without a warning),
// pycdlib and 7z read the old and new files from the disc's start.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/cli_fixture.h"

namespace {

using Files = std::map<std::string, std::string>;

using GrowCli = qvtest::CliTest;

// pycdlib's extraction of the Joliet tree into a folder.
constexpr const char* kPycdlibExtract =
    "import os, re, sys, pycdlib\n"
    "iso = pycdlib.PyCdlib(); iso.open(sys.argv[1])\n"
    "for root, dirs, files in iso.walk(joliet_path='/'):\n"
    "    for f in files:\n"
    "        p = root.rstrip('/') + '/' + f; dest = sys.argv[2] + re.sub(';[0-9]+$', '', p)\n"
    "        os.makedirs(os.path.dirname(dest), exist_ok=True)\n"
    "        with open(dest, 'wb') as out: iso.get_file_from_iso_fp(out, joliet_path=p)\n";

TEST_F(GrowCli, OutsideFirstSessionsGrowIntoOneVolumeEveryReaderAccepts) {
  for (const char* tool : {"xorriso", "genisoimage", "7z"}) QVTEST_REQUIRE_PROGRAM(tool);
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 -c 'import pycdlib'"), 0) << "pycdlib is not installed";
  home.Write("old/a.txt", "a old");
  home.Write("old/dir/b.txt", "b old");
  home.Write("old/dir/deep/er/keep.txt", "kept");
  home.Write("old/boot/boot.img", std::string(2048, '\xF4'));
  home.Write("new/a.txt", "a new");
  home.Write("new/dir/c.txt", "c new");
  home.Write("py.py", kPycdlibExtract);
  const std::string boot = " -b boot/boot.img -c boot/boot.cat -no-emul-boot -boot-load-size 4 ";
  const struct {
    const char* media;
    std::string first;  // the outside tool's command, writing first.iso from old/
  } cases[] = {
      {"dvd+rw", "genisoimage -quiet -J -r" + boot + "-o " + At("first.iso") + " " + At("old")},
      {"dvd-ram", "xorriso -as mkisofs -quiet -J -o " + At("first.iso") + " " + At("old")},
  };
  const Files expected = {{"a.txt", "a new"}, {"dir/c.txt", "c new"}, {"dir/deep/er/keep.txt", "kept"},
                          {"boot/boot.img", std::string(2048, '\xF4')}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.media) + ": " + c.first);
    for (const char* dir : {"x-xorriso", "x-pycdlib", "x-7z"}) std::filesystem::remove_all(home.path() / dir);
    ASSERT_EQ(qvtest::RunCommand(c.first + " 2>&1", &out), 0) << out;
    ASSERT_EQ(Run("vdrive create d --media " + std::string(c.media)), 0) << out;
    ASSERT_EQ(Run("burn --drive d --multisession --image " + At("first.iso")), 0) << out;
    ASSERT_EQ(Run("burn --drive d --multisession --replace --remove /dir/b.txt " + At("new")), 0) << out;
    ASSERT_EQ(Run("vdrive export d --out " + At("grown.iso")), 0) << out;
    const std::string indev = "xorriso -abort_on NEVER -return_with WARNING 32 -indev stdio:" + At("grown.iso");
    EXPECT_EQ(qvtest::RunCommand("timeout 60 " + indev + " -find / -exec lsdl 2>&1", &out), 0) << out;
    EXPECT_EQ(qvtest::RunCommand("timeout 60 " + indev + " -osirrox on -extract / " + At("x-xorriso") + " 2>&1", &out),
              0) << out;
    EXPECT_EQ(qvtest::RunCommand("/usr/bin/python3 " + At("py.py") + " " + At("grown.iso") + " " + At("x-pycdlib") +
                                     " 2>&1", &out), 0) << out;
    EXPECT_EQ(qvtest::RunCommand("7z x -y -o" + At("x-7z") + " " + At("grown.iso") + " 2>&1", &out), 0) << out;
    for (const char* dir : {"x-xorriso", "x-pycdlib", "x-7z"}) {
      Files got = Tree(home.path() / dir);
      // The boot catalog, and 7z's view of the boot image, are the tools' own.
      std::erase_if(got, [](const auto& f) { return f.first == "boot/boot.cat" || f.first.starts_with("[BOOT]"); });
      EXPECT_EQ(got, expected) << dir;
    }
    // The boot record came along: the BIOS still finds its image.
    if (c.first.find("-b ") != std::string::npos) {
      EXPECT_EQ(qvtest::RunCommand(indev + " -report_el_torito plain 2>&1", &out), 0) << out;
      EXPECT_NE(out.find("El Torito boot img :   1  BIOS"), std::string::npos) << out;
    }
    ASSERT_EQ(Run("vdrive delete d"), 0) << out;
  }
}

// UDF sessions do not carry the earlier files over: refused where the
// disc holds a volume, before anything is written.
TEST_F(GrowCli, UdfSessionsAreRefusedOnDiscsThatHoldOne) {
  home.Write("one/one.txt", "one");
  ASSERT_EQ(Run("vdrive create blank --media dvd+rw"), 0) << out;
  EXPECT_EQ(Run("burn --drive blank --udf --multisession " + At("one")), 0) << out;
  ASSERT_EQ(Run("vdrive create d --media dvd+rw"), 0) << out;
  ASSERT_EQ(Run("burn --drive d --multisession " + At("one")), 0) << out;
  const auto before = Disc("d");
  EXPECT_EQ(Run("burn --drive d --udf --multisession " + At("one")), 7) << out;
  EXPECT_EQ(Disc("d"), before);
}

}  // namespace
