// How much a long read (a cooked grab, the track-end search) asks for per
// command: the system's limit for the device, learnt on the SG_IO path,
// bounds it.
#include "scsi/transport_spti.h"
#include "scsi_fixtures.h"
#include "support/fake_scsi.h"

namespace {

struct ChunkCase {
  uint32_t hostLimit, blockSize, blocks;
};

TEST(GrabChunk, FollowsTheSystemsTransferLimit) {
  const ChunkCase cases[] = {
      {0, 2048, 30},          // limit unknown: the classic 60 KiB
      {131072, 2048, 64},     // an ATAPI drive's 128 KiB
      {131072, 2352, 55},     // audio blocks, whole ones only
      {1310720, 2048, 512},   // a large limit stops at 1 MiB
      {1000, 2048, 1},        // less than a block still reads one
      {0xFFFFFFFFu, 2352, 445},
  };
  for (const ChunkCase& c : cases)
    EXPECT_EQ(QuorvaneI_ChunkBlocks(c.hostLimit, c.blockSize), c.blocks) << c.hostLimit << " / " << c.blockSize;
}

TEST(GrabChunk, TheSgPathLearnsTheLimitFromTheKernel) {
  scsitest::ScopedEnv noDralik{"QUORVANE_LIB_DRALIK", ""};
  qvtest::VirtualTime time;
  qvtest::FakeScsiBus bus;  // answers SG_GET_RESERVED_SIZE with 32 KiB
  const unsigned index = bus.Add({});
  CQuorvane_ScsiTransportSPTI transport(bus.DevPath(index).c_str());
  EXPECT_EQ(transport.GetHostTransferLimit(), 32768u);
  EXPECT_EQ(QuorvaneI_ChunkBlocks(transport.GetHostTransferLimit(), 2048), 16u);
}

}  // namespace
