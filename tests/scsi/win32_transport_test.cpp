// The Windows delivery of the transports under Wine: the pass-through
// device over IOCTL_SCSI_PASS_THROUGH_DIRECT, the ASPI transport over the
// system's WnASPI32.dll and the events the ASPI library signals. Wine has
// no drives to offer, so these check what happens without one.
#include <windows.h>

#include <cstring>

#include "core/aspi_loader.h"
#include "platform/event.h"
#include "platform/passthrough.h"
#include "quorvane.h"
#include "scsi/transport_aspi.h"
#include "scsi/transport_spti.h"
#include "scsi_fixtures.h"

namespace {

using scsitest::Catch;
using scsitest::Fails;

TEST(Win32PassThrough, DeviceNamesBecomeDevicePaths) {
  EXPECT_EQ(qv::plat::PassThroughDevicePath("CdRom0"), "\\\\.\\CdRom0");
  EXPECT_EQ(qv::plat::PassThroughDevicePath("E:"), "\\\\.\\E:");
  EXPECT_EQ(qv::plat::PassThroughDevicePath("\\\\.\\CdRom3"), "\\\\.\\CdRom3");
}

TEST(Win32PassThrough, AMissingDriveFailsWithItsSystemError) {
  uint32_t error = 0;
  EXPECT_EQ(qv::plat::OpenPassThrough("\\\\.\\CdRom17", false, &error), qv::plat::kInvalidPassThrough);
  EXPECT_NE(error, 0u);
  auto e = Fails(5, [] { CQuorvane_ScsiTransportSPTI t("CdRom17"); });
  EXPECT_EQ(e->SystemError(), error);
}

// A handle that is no SCSI device refuses the request: the reply carries
// the system error and no status or sense.
TEST(Win32PassThrough, ARequestTheDeviceRefusesCarriesTheSystemError) {
  qvtest::TempDir dir;
  const std::string path = dir.Write("not-a-drive", "x").string();
  uint32_t error = 0;
  const qv::plat::PassThroughHandle h = qv::plat::OpenPassThrough(path, true, &error);
  ASSERT_NE(h, qv::plat::kInvalidPassThrough) << error;
  const uint8_t inquiry[6] = {0x12, 0, 0, 0, 96, 0};
  uint8_t answer[96];
  const qv::plat::ScsiRequest request{.cdb = inquiry, .cdbLength = 6, .buffer = answer, .bufferSize = sizeof answer,
                                      .direction = qv::plat::ScsiDirection::In};
  qv::plat::ScsiReply reply;
  reply.status = 99;
  qv::plat::PassThroughExecute(h, request, reply);
  EXPECT_NE(reply.systemError, 0u);
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(reply.senseLength, 0);
  qv::plat::ScsiAddress address;
  EXPECT_FALSE(qv::plat::GetPassThroughAddress(h, &address, &error));
  EXPECT_NE(error, 0u);
  qv::plat::ClosePassThrough(h);
  EXPECT_TRUE(qv::plat::PassThroughRefusedReadOnly(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(qv::plat::PassThroughRefusedReadOnly(ERROR_INVALID_FUNCTION));
}

// The system's own ASPI library loads; it has no adapters to offer.
TEST(Win32Aspi, TheSystemLibraryIsLoadedAndFindsNothing) {
  QuorvaneI_AspiScope scope;
  ASSERT_EQ(QuorvaneI_LoadAspi("Win32Aspi", scope.aspi), 0u);
  EXPECT_EQ(scope.aspi.getSupportInfo() & 0xFF, 0u) << "no host adapters";
  EXPECT_EQ(Quorvane_FindDevice(0xFF, 0, nullptr, nullptr), 0u);
  EXPECT_NE(Catch([] { CQuorvane_ScsiTransportASPI t(0, 0, 1, 0); }), nullptr);
}

// Signalling from the library's own thread is AspiPending's; here, that
// the event is a manual-reset one: it stays signalled until reset.
TEST(Win32Event, SignalledByItsNativeHandleAndStaysSo) {
  uint32_t error = 99;
  auto event = qv::plat::ManualResetEvent::Create(&error);
  ASSERT_NE(event, nullptr) << error;
  const HANDLE h = static_cast<HANDLE>(event->NativeHandle());
  EXPECT_TRUE(qv::plat::SignalNativeEvent(h));
  EXPECT_EQ(event->Wait(&error), 0u);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(event->Reset(&error));
  EXPECT_EQ(WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(qv::plat::SignalNativeEvent(nullptr));
}

}  // namespace
