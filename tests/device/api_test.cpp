// The C entry points end to end: creation through the pass-through
// transport's auxiliary-driver door (a stand-in serving a fake drive), the
// status record, and the entry points whose algorithm lives in the C layer
// (disc type fallback, last track).
#include <strings.h>

#include <cstring>

#include "core/engine_fixture.h"
#include "fake_drive.h"
#include "platform/dynlib.h"
#include "vdrive/qvdrive.h"

namespace {

using devtest::Bytes;
using devtest::Reply;

devtest::FakeDrive* g_drive = nullptr;
int g_driver;
constexpr uint32_t kHandle = 0x77;

uint32_t Serve(QVDRIVE_REQUEST* r) {
  const Bytes cdb(r->cdb, r->cdb + r->cdbLength);
  Bytes out;
  if (r->direction == QVDRIVE_DIR_OUT)
    out.assign(static_cast<uint8_t*>(r->buffer), static_cast<uint8_t*>(r->buffer) + r->bufferSize);
  g_drive->sent.push_back({cdb, out, r->bufferSize});
  const Reply reply = g_drive->Answer(cdb, out);
  r->scsiStatus = reply.status;
  r->transferred = 0;
  if (reply.status == 2) {
    r->senseLength = 18;
    r->sense[0] = 0x70;
    r->sense[2] = reply.key;
    r->sense[7] = 10;
    r->sense[12] = reply.asc;
    r->sense[13] = reply.ascq;
  } else if (r->direction == QVDRIVE_DIR_IN) {
    const size_t n = std::min<size_t>(reply.data.size(), r->bufferSize);
    std::memcpy(r->buffer, reply.data.data(), n);
    r->transferred = static_cast<uint32_t>(n);
  }
  return 0;
}

uint32_t Attach(void** d) {
  *d = &g_driver;
  return 0;
}
uint32_t Detach(void*) { return 0; }
uint32_t Control(void*, uint32_t code, void* block, uint32_t) {
  if (code == DRALIK_IOCTL_GET_VERSION) return 0;
  auto* o = static_cast<DRALIK_OPEN_BLOCK*>(block);
  if (strcasecmp(o->name, "CdRom5") != 0) return 2;
  o->handle = kHandle;
  return 0;
}
uint32_t PassThrough(uint32_t, QVDRIVE_REQUEST* r) { return Serve(r); }
uint32_t CloseDevice(uint32_t) { return 0; }
void* ResolveDralik(const char* s) {
  if (!std::strcmp(s, "QvDralik_Attach")) return reinterpret_cast<void*>(&Attach);
  if (!std::strcmp(s, "QvDralik_Detach")) return reinterpret_cast<void*>(&Detach);
  if (!std::strcmp(s, "QvDralik_Control")) return reinterpret_cast<void*>(&Control);
  if (!std::strcmp(s, "QvDralik_PassThrough")) return reinterpret_cast<void*>(&PassThrough);
  if (!std::strcmp(s, "QvDralik_CloseDevice")) return reinterpret_cast<void*>(&CloseDevice);
  return nullptr;
}
const qv::plat::BuiltinLibrary kDralik{"Dralik", &ResolveDralik};

class Api : public EngineState {
 protected:
  void SetUp() override {
    EngineState::SetUp();
    g_drive = &drive;
    drive.currentPages[0x2A] = devtest::CapabilitiesPage(0x3B, 0x37, 256);
    drive.currentPages[0x05] = devtest::WriteParametersPage();
    qv::plat::RegisterBuiltinLibrary(&kDralik);
  }
  void TearDown() override {
    if (handle) Quorvane_CdvdBurnerGrabber_Destroy(&handle);
    qv::plat::UnregisterBuiltinLibrary(&kDralik);
    g_drive = nullptr;
    EngineState::TearDown();
  }
  QV_ULONG CreateEx(const char* name) {
    return Quorvane_CdvdBurnerGrabber_CreateEx(&handle, text, sizeof text, &systemError, &failure, nullptr, nullptr,
                                               name, 1);
  }
  QV_ULONG Started(const char* name = "CdRom5") {
    EXPECT_EQ(Quorvane_UpStartEx(), 0u);
    return CreateEx(name);
  }

  qvtest::VirtualTime time;
  qvtest::LogCapture log;
  devtest::FakeDrive drive;
  QV_HANDLE handle = nullptr;
  char text[1024] = {};
  QV_ULONG systemError = 0;
  CDB_FAILURE_INFORMATION failure{};
};

TEST_F(Api, CreationBeforeStartUpFailsWithTwentyOne) {
  handle = reinterpret_cast<QV_HANDLE>(0x1);
  EXPECT_EQ(CreateEx("CdRom5"), 21u);
  EXPECT_EQ(handle, nullptr);
  const QV_WCHAR name[] = {'Q', 0};
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_CreateExEx(&handle, text, sizeof text, &systemError, &failure, nullptr, nullptr,
                                                  name, 1, 0),
            21u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Create(&handle, text, sizeof text, &systemError, &failure, nullptr, nullptr, 0,
                                              0, 0, 0, 0),
            21u);
  EXPECT_EQ(log.Count("\nQuorvane:Quorvane_CdvdBurnerGrabber_CreateEx(): EXITing with failure, was not initialized\n"),
            1u);
  EXPECT_EQ(log.Count("\nQuorvane:Quorvane_CdvdBurnerGrabber_CreateExEx(): EXITing with failure, was not initialized\n"),
            1u);
  EXPECT_TRUE(drive.sent.empty());
}

TEST_F(Api, CreateExReachesTheDriveTheAuxiliaryDriverServes) {
  ASSERT_EQ(Started(), 0u) << text;
  ASSERT_NE(handle, nullptr);
  char vendor[9], product[17], revision[5];
  QV_ULONG bufferSize = 0;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetDeviceInformation(handle, text, sizeof text, &systemError, &failure, vendor,
                                                            product, revision, &bufferSize),
            0u);
  EXPECT_STREQ(vendor, "QVTEST  ");
  EXPECT_STREQ(product, "Fake Recorder   ");
  EXPECT_EQ(bufferSize, 256u * 1024u);
  EXPECT_EQ(log.Count("\nQuorvane:Quorvane_CdvdBurnerGrabber_GetDeviceInformation(): ENTERed\n"), 1u);
  EXPECT_EQ(log.Count("\nQuorvane:Quorvane_CdvdBurnerGrabber_GetDeviceInformation(): EXITing with success\n"), 1u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Destroy(&handle), 0u);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Destroy(&handle), 2u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Destroy(nullptr), 2u);
}

TEST_F(Api, FailedCreationLeavesNoHandleAndExplains) {
  drive.deviceType = 4;  // a write-once optical device, not a CD/DVD drive
  handle = reinterpret_cast<QV_HANDLE>(0x1);
  EXPECT_EQ(Started(), 9u);
  EXPECT_EQ(handle, nullptr);
  EXPECT_STREQ(text, "CQuorvane_ScsiDeviceCdvdRomReader::CQuorvane_ScsiDeviceCdvdRomReader_SharedConstructor(): "
                     "Device type 0x04 instead of 0x05");
  // A name nobody serves goes to the OS device, which is not there.
  EXPECT_EQ(CreateEx("/nonexistent/sr77"), 5u);
  EXPECT_EQ(handle, nullptr);
  EXPECT_NE(systemError, 0u);
}

TEST_F(Api, ACommandFailureFillsTheStatusRecord) {
  ASSERT_EQ(Started(), 0u);
  drive.On(0x51, [](const Bytes&, const Bytes&) { return Reply::NoMedium(); });
  QUORVANE_DISC_INFORMATION info;
  std::memset(&info, 0xEE, sizeof info);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetDiscInformation(handle, text, sizeof text, &systemError, &failure, &info),
            8u);
  EXPECT_EQ(failure.m__UCHAR__IsValid, 1);
  EXPECT_EQ(failure.m__UCHAR__CDB[0], 0x51);
  EXPECT_EQ(failure.m__UCHAR__Sense[12], 0x3A);
  EXPECT_NE(std::string(text).find("Command failed"), std::string::npos);
  EXPECT_EQ(info.m__UCHAR__IsValid, 0);
  EXPECT_EQ(log.Count("\nQuorvane:Quorvane_CdvdBurnerGrabber_GetDiscInformation(): EXITing with failure, status 8\n"),
            1u);
}

TEST_F(Api, MissingHandlesAndRecordsAreParameterErrors) {
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Load(nullptr, text, sizeof text, &systemError, &failure), 2u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Cancel(nullptr), 2u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(nullptr), 0u);
  ASSERT_EQ(Started(), 0u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetTOCInformation(handle, text, sizeof text, &systemError, &failure, nullptr), 2u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetLastTrack(handle, text, sizeof text, &systemError, &failure, nullptr), 2u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Cancel(handle), 0u);
}

// Drives without profiles: the disc information says what kind of CD it is.
struct FallbackCase {
  const char* name;
  uint8_t statusByte;  // byte 2 of READ DISC INFORMATION
  bool discPresent;
  QV_ULONG type;
};

class Fallback : public Api, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(Fallback, TreatsTheDiscAsACd) {
  ASSERT_EQ(Started(), 0u);
  drive.profile = 0xFFFF;
  const FallbackCase& c = GetParam();
  drive.On(0x51, [&](const Bytes&, const Bytes&) {
    return c.discPresent ? Reply::Good(devtest::DiscInformation(c.statusByte, 1, 1, 1, 1)) : Reply::NoMedium();
  });
  if (!c.discPresent) drive.On(0x00, [](const Bytes&, const Bytes&) { return Reply::NoMedium(); });
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(handle), c.type);
  EXPECT_EQ(log.Count("Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(): Current profile is unknown ( 0 ), re-checking"),
            1u);
}

INSTANTIATE_TEST_SUITE_P(Discs, Fallback,
                         ::testing::Values(FallbackCase{"BlankCdr", 0x00, true, 2},
                                           FallbackCase{"AppendableCdr", 0x0D, true, 2},
                                           FallbackCase{"PressedCd", 0x0E, true, 1},
                                           FallbackCase{"ErasableComplete", 0x1E, true, 3},
                                           FallbackCase{"ErasableBlank", 0x10, true, 3},
                                           FallbackCase{"NoDisc", 0x00, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct LastTrackCase {
  const char* name;
  uint16_t profile;
  uint8_t statusByte, lastInLast;
  bool volume;
  QV_UCHAR expected;
  const char* path;
};

class LastTrack : public Api, public ::testing::WithParamInterface<LastTrackCase> {};

TEST_P(LastTrack, PerMedium) {
  ASSERT_EQ(Started(), 0u);
  const LastTrackCase& c = GetParam();
  drive.profile = c.profile;
  drive.On(0x51, [&](const Bytes&, const Bytes&) {
    return Reply::Good(devtest::DiscInformation(c.statusByte, 1, 1, c.lastInLast, c.lastInLast));
  });
  drive.On(0x28, [&](const Bytes&, const Bytes&) {
    return Reply::Good(c.volume ? devtest::IsoPrimaryVolumeDescriptor(500) : Bytes(2048, 0));
  });
  QV_UCHAR last = 99;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetLastTrack(handle, text, sizeof text, &systemError, &failure, &last), 0u)
      << text;
  EXPECT_EQ(last, c.expected);
  EXPECT_EQ(log.Count(c.path), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Media, LastTrack,
    ::testing::Values(
        LastTrackCase{"ClosedCdr", 0x0009, 0x0E, 3, false, 3, "DISC_STATUS_COMPLETE ( 0x02 ) path, 3 track(s) reported"},
        // The last track of a disc still written to is the open one.
        LastTrackCase{"AppendableCdr", 0x0009, 0x01, 3, false, 2,
                      "DISC_STATUS_INCOMPLETE ( 0x01 ) path, 3 track(s) reported"},
        LastTrackCase{"BlankDvdR", 0x0011, 0x00, 1, false, 0, "Using CD-R, CD-RW, DVD+R ( DL ) or DVD-R ( 5 ) path"},
        LastTrackCase{"DvdPlusRwWithVolume", 0x001A, 0x01, 1, true, 1, "Good PVD signature"},
        LastTrackCase{"DvdRamEmpty", 0x0012, 0x01, 1, false, 0, "Using DVD-RW, DVD+RW or DVD-RAM ( 6 ) path"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Api, LastTrackWithoutADiscReturnsTheTestUnitReadyFailure) {
  ASSERT_EQ(Started(), 0u);
  drive.On(0x00, [](const Bytes&, const Bytes&) { return Reply::NoMedium(); });
  drive.On(0x51, [](const Bytes&, const Bytes&) { return Reply::NoMedium(); });
  QV_UCHAR last = 99;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetLastTrack(handle, text, sizeof text, &systemError, &failure, &last), 8u);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(failure.m__UCHAR__CDB[0], 0x00);
}

TEST_F(Api, AtipIsHandedBackUnparsed) {
  ASSERT_EQ(Started(), 0u);
  drive.On(0x43, [](const Bytes& cdb, const Bytes&) {
    if ((cdb[2] & 0x0F) != 4) return Reply::InvalidField();
    return Reply::Good(Bytes{0, 26, 0, 0, 0x80, 0x40, 0xC0, 0, 0x61, 0x1A, 0x41, 0, 0x4F, 0x3B, 0x4A, 0});
  });
  uint8_t atip[256];
  std::memset(atip, 0xEE, sizeof atip);
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_ReadATIP(handle, text, sizeof text, &systemError, &failure, atip, sizeof atip), 0u);
  EXPECT_EQ(Bytes(atip, atip + 16), (Bytes{0, 26, 0, 0, 0x80, 0x40, 0xC0, 0, 0x61, 0x1A, 0x41, 0, 0x4F, 0x3B, 0x4A, 0}));
  EXPECT_EQ(atip[16], 0);  // the rest is cleared, not left as it was
  EXPECT_EQ(drive.Cdb(0x43), (Bytes{0x43, 0, 0x04, 0, 0, 0, 0, 0x01, 0x00, 0}));
}

}  // namespace
