// The primary hierarchy of ECMA-119: its volume descriptor, its path tables
// and directories, the set terminator, and (in ISO9660 images) the order of
// the file data.
#include <cstring>

#include "core/bytes.h"
#include "iso9660/image_writers.h"
#include "iso9660/iso9660_tree.h"

QuorvaneI_ECMA119Writer::QuorvaneI_ECMA119Writer(Node* root, QuorvaneI_FileArea* files)
    : QuorvaneI_HierarchyWriter(0, root), m__Files(files) {}

void QuorvaneI_ECMA119Writer::Reserve(QuorvaneI_ImageLayout& layout, QuorvaneI_LayoutStep step) {
  switch (step) {
    case QuorvaneI_LayoutStep::kDescriptors: layout.ReserveDescriptor(this, kPrimary); break;
    case QuorvaneI_LayoutStep::kTerminators: layout.ReserveDescriptor(this, kTerminator); break;
    // The descriptors and the boot catalog have S+16 to S+20 to themselves.
    case QuorvaneI_LayoutStep::kSystemArea: layout.SkipTo(layout.Start() + 21); break;
    case QuorvaneI_LayoutStep::kFiles:
      if (m__Files) m__Files->Place(layout, FilesInOrder());
      break;
    default: QuorvaneI_HierarchyWriter::Reserve(layout, step);
  }
}

void QuorvaneI_ECMA119Writer::Prepare(const QuorvaneI_ImageLayout& layout, const QuorvaneI_ImageContext& c) {
  QuorvaneI_HierarchyWriter::Prepare(layout, c);
  m__Primary = std::make_unique<uint8_t[]>(kQuorvaneSectorSize);
  uint8_t* pvd = m__Primary.get();
  const QuorvaneI_VolumeTexts& t = c.texts;
  pvd[0] = 1;
  std::memcpy(pvd + 1, "CD001", 5);
  pvd[6] = 1;
  QuorvaneI_PutText(pvd + 8, 32, t.systemIdentifier, 31);
  // The label is cut to the 32 bytes of the volume identifier, never into
  // the fields behind it.
  QuorvaneI_PutText(pvd + 40, 32, t.label.substr(0, QuorvaneI_Utf8Prefix(t.label.c_str(), 32)), 32);
  QuorvaneI_PutBoth32(pvd + 80, static_cast<uint32_t>(layout.End()));
  QuorvaneI_PutBoth16(pvd + 120, 1);
  QuorvaneI_PutBoth16(pvd + 124, 1);
  QuorvaneI_PutBoth16(pvd + 128, static_cast<uint16_t>(kQuorvaneSectorSize));
  QuorvaneI_PutBoth32(pvd + 132, static_cast<uint32_t>(PathTableSize()));
  QuorvaneI_PutLE32(pvd + 140, PathTableL());
  QuorvaneI_PutBE32(pvd + 148, PathTableM());
  uint8_t now[7];
  QuorvaneI_UtcDate(c.now, now);
  PutRootRecord(pvd + 156, now);
  QuorvaneI_PutText(pvd + 190, 128, t.label, 127);
  QuorvaneI_PutText(pvd + 318, 128, t.publisher, 127);
  QuorvaneI_PutText(pvd + 446, 128, t.publisher, 127);
  QuorvaneI_PutText(pvd + 574, 128, t.application, 127);
  QuorvaneI_PutText(pvd + 702, 37, t.copyrightFile, 36);
  QuorvaneI_PutText(pvd + 739, 37, "", 0);
  QuorvaneI_PutText(pvd + 776, 37, t.bibliographicFile, 36);
  QuorvaneI_PutDateText(pvd + 813, t.creationDate);
  QuorvaneI_PutDateText(pvd + 830, t.modificationDate);
  QuorvaneI_PutDateText(pvd + 847, t.expirationDate);
  QuorvaneI_PutDateText(pvd + 864, t.effectiveDate);
  pvd[881] = 1;
  if (c.xaFlag == 1) std::memcpy(pvd + 1024, "CD-XA001", 8);
}

void QuorvaneI_ECMA119Writer::Emit(uint32_t region, uint64_t offset, uint64_t length, uint8_t* out) {
  if (region == kPrimary) {
    std::memcpy(out, m__Primary.get() + offset, length);
  } else if (region == kTerminator) {
    static const uint8_t kTerminatorStart[7] = {255, 'C', 'D', '0', '0', '1', 1};
    if (offset < sizeof kTerminatorStart)
      std::memcpy(out, kTerminatorStart + offset, std::min<uint64_t>(length, sizeof kTerminatorStart - offset));
  } else {
    QuorvaneI_HierarchyWriter::Emit(region, offset, length, out);
  }
}
