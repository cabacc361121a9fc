// Video CD and Super Video CD: the playing time patched into a Super Video
// CD's data track, and the stream check ahead of the drive. (The patched
// templates and the track layout, read by vcdimager's tools, xorriso and
// pycdlib, are the burn command's tests.)
#include <gtest/gtest.h>

#include <fstream>

#include "core/exception.h"
#include "device/engine_drive.h"
#include "record/video_cd.h"
#include "support/test_support.h"
#include "vdrive/command_log.h"
#include "vdrive/qvdrive.h"

namespace {

// Packs of 2324 bytes, each a pack header of the system and one video packet.
std::string Stream(bool mpeg2, size_t packs) {
  std::string s;
  for (size_t i = 0; i < packs; ++i) {
    std::string pack = mpeg2 ? std::string("\0\0\1\xBA\x44\0\4\0\4\1\0\0\3\xF8", 14)
                             : std::string("\0\0\1\xBA\x21\0\1\0\1\x80\0\1", 12);
    const size_t length = 2324 - pack.size() - 6;
    pack += std::string("\0\0\1\xE0", 4) + char(length >> 8) + char(length & 0xFF);
    pack.resize(2324, '\x55');
    s += pack;
  }
  return s;
}

std::filesystem::path Write(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
  return p;
}

// Minutes and seconds at 10 MiB a minute, BCD; seconds never reach 60.
TEST(SuperVideoCdTime, PlayingTimeFromSize) {
  const struct {
    uint64_t size;
    uint8_t m, s;
  } cases[] = {{10485760 * 3 + 5242880, 0x03, 0x30}, {10485760 - 1, 0x00, 0x59}, {10485760 * 74, 0x74, 0}};
  std::vector<uint8_t> image(kQuorvaneVcdDataTrackBytes, 0xEE);
  for (const auto& c : cases) {
    QuorvaneI_PatchSuperVideoCdImage(image.data(), c.size);
    const uint8_t* t = image.data() + 211 * 2048 + 11;
    EXPECT_EQ(t[0], c.m) << c.size;
    EXPECT_EQ(t[1], c.s) << c.size;
    EXPECT_EQ(t[2], 0) << c.size;
  }
}

// A template too short for the data track is refused as the format says.
TEST(VideoCdTrack, ShortTemplateIsRefused) {
  qvtest::TempDir dir;
  const auto mpeg = Write(dir.path() / "a.mpg", std::string(2324 * 10, '\0'));
  const auto shortTemplate = Write(dir.path() / "short.iso", std::string(kQuorvaneVcdDataTrackBytes - 1, '\0'));
  try {
    CQuorvane_VCDDATATrack track(mpeg.c_str(), "", 1, 1, shortTemplate.c_str(), kQuorvaneVcdMpegRecordOffset);
    ADD_FAILURE() << "a short template was taken";
  } catch (CQuorvane_Exception* e) {
    EXPECT_EQ(e->Number(), 4u);
    delete e;
  }
}

class VideoCdEngine : public qvtest::EngineDrive {};

// Nothing reaches the drive when the stream is not the disc's: one row per
// kind of refusal (fuzz_files_input feeds the same check any bytes).
TEST_F(VideoCdEngine, RefusesWrongStreamsBeforeTheDrive) {
  Make("cd-r");
  ASSERT_EQ(Open(), 0u) << s.text;
  const auto& at = home.path();
  const std::string mpeg1 = Stream(false, 4), mpeg2 = Stream(true, 4);
  const struct {
    const char* name;
    std::string bytes;
    bool super;
    const char* why;
  } cases[] = {
      {"mp4", std::string("\0\0\0\x20" "ftypisom", 12) + std::string(4636, '\0'), false, "does not begin with an MPEG pack header"},
      {"truncated", mpeg1.substr(0, mpeg1.size() - 100), false, "whole number"},
      {"mpeg1 for svcd", mpeg1, true, "MPEG-1 system stream, where"},
      {"packet past its pack", mpeg1.substr(0, 2324 + 16) + "\x10" + mpeg1.substr(2324 + 17), false, "runs past"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = Write(at / "in.mpg", c.bytes);
    qv::vdrive::CommandLog commands;
    const QV_ULONG rc = c.super ? Quorvane_CdvdBurnerGrabber_SuperVideoCD(handle, QV_STATUS(s), file.c_str(), "x", 1, 1, 0, 1, 1)
                                : Quorvane_CdvdBurnerGrabber_VideoCD(handle, QV_STATUS(s), file.c_str(), "x", 1, 1, 0, 1, 1);
    EXPECT_EQ(rc, 2u);
    EXPECT_NE(std::string(s.text).find(c.why), std::string::npos) << s.text;
    EXPECT_TRUE(commands.Commands().empty());
  }
  // Good streams pass the same check; an Ex form's unknown mode records nothing.
  EXPECT_EQ(Quorvane_VideoCD_CheckStream(Write(at / "1.mpg", mpeg1).c_str(), 0, s.text, sizeof s.text), 0u) << s.text;
  EXPECT_EQ(Quorvane_VideoCD_CheckStream(Write(at / "2.mpg", mpeg2).c_str(), 1, s.text, sizeof s.text), 0u) << s.text;
  qv::vdrive::CommandLog commands;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_VideoCDEx(handle, QV_STATUS(s), 7, (at / "1.mpg").c_str(), "x", 1, 1, 0, 1, 1), 0u);
  EXPECT_TRUE(commands.Commands().empty());
}

}  // namespace
