// The drive-quirk table's lookup as inquiry strings reach it: blank-padded,
// matched by substring and case, vendor-wide rows adding to model rows.
#include "device/drive_quirks.h"
#include "support/test_support.h"

namespace {

struct LookupCase {
  const char* vendor;
  const char* product;
  uint32_t has;     // every one of these
  uint32_t hasNot;  // none of these
};

TEST(DriveQuirks, LookupMatchesInquiryStrings) {
  const LookupCase cases[] = {
      {"PIONEER ", "DVD-RW  DVR-111D", kQuirkCloseRetried, kQuirkKeepsRecoveryPage},
      {"PIONEER ", "DVD-ROM DVD-105 ", kQuirkKeepsRecoveryPage, kQuirkCloseRetried},
      // A model row and the vendor's row together.
      {"MATSHITA", "CD-RW  CW-9585  ", kQuirkFreeBlocksOverstated | kQuirkCdStyleDvdSpeeds | kQuirkPlainErrorRecovery,
       0},
      {"MATSHITA", "DVD-RAM UJ-85JS ", kQuirkCdStyleDvdSpeeds | kQuirkPlainErrorRecovery, kQuirkFreeBlocksOverstated},
      {"MITSUMI ", "CR-4802TE       ", kQuirkSlowSynchronizeCache | kQuirkEjectAfterWriteParameters, 0},
      // The model string alone under another vendor, or in other case, is not the model.
      {"ACME    ", "CR-4802TE       ", 0, ~0u},
      {"MEMOREX ", "Twelve MAXX     ", 0, ~0u},
  };
  for (const LookupCase& c : cases) {
    const QuorvaneI_DriveQuirks q = QuorvaneI_QuirksOf(c.vendor, c.product);
    EXPECT_EQ(q.flags & c.has, c.has) << c.vendor << c.product;
    EXPECT_EQ(q.flags & c.hasNot, 0u) << c.vendor << c.product;
  }
}

}  // namespace
