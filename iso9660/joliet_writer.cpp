// Joliet: a second hierarchy of UCS-2 names over the same file data, and
// its supplementary volume descriptor.
#include <cstring>

#include "core/bytes.h"
#include "core/log.h"
#include "iso9660/image_writers.h"
#include "iso9660/iso9660_tree.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace {

// A text field of the Joliet descriptor: big-endian UCS-2 padded with
// spaces (an odd last byte stays zero). A text that is not convertible or
// holds more characters than the field is logged and left out.
void PutWideText(uint8_t* at, size_t field, const std::string& text) {
  for (size_t i = 0; i + 1 < field; i += 2) QuorvaneI_PutBE16(at + i, 0x20);
  std::u16string wide;
  uint32_t error = 0;
  if (!qv::plat::NarrowToWide(text, &wide, &error) || wide.size() > field / 2) {
    if (error == 0) error = qv::plat::kErrInsufficientBuffer;
    QuorvaneI_Log("\nCQuorvane_JolietFileTree::FormatVolumeDescriptors(): MultiByteToWideChar() failed, status == %ld\n",
                  static_cast<long>(error));
    return;
  }
  for (size_t i = 0; i < wide.size(); ++i) {
    const char16_t u = wide[i] >= 0xD800 && wide[i] <= 0xDFFF ? u'_' : wide[i];
    QuorvaneI_PutBE16(at + 2 * i, u);
  }
}

}  // namespace

QuorvaneI_JolietWriter::QuorvaneI_JolietWriter(Node* root, const QuorvaneI_ECMA119Writer* primary)
    : QuorvaneI_HierarchyWriter(1, root), m__Primary(primary) {}

void QuorvaneI_JolietWriter::Reserve(QuorvaneI_ImageLayout& layout, QuorvaneI_LayoutStep step) {
  if (step == QuorvaneI_LayoutStep::kDescriptors) {
    layout.ReserveDescriptor(this, kSupplementary);
  } else if (step == QuorvaneI_LayoutStep::kSystemArea) {
    layout.SkipTo(layout.Cursor() + 1);  // a zero block before the path tables, as images always had
  } else {
    QuorvaneI_HierarchyWriter::Reserve(layout, step);
  }
}

void QuorvaneI_JolietWriter::Prepare(const QuorvaneI_ImageLayout& layout, const QuorvaneI_ImageContext& c) {
  QuorvaneI_HierarchyWriter::Prepare(layout, c);
  m__Supplementary = std::make_unique<uint8_t[]>(kQuorvaneSectorSize);
  uint8_t* svd = m__Supplementary.get();
  std::memcpy(svd, m__Primary->Primary(), kQuorvaneSectorSize);
  svd[0] = 2;
  svd[88] = 0x25;  // UCS-2 level 1
  svd[89] = 0x2F;
  svd[90] = 0x40;
  QuorvaneI_PutBoth32(svd + 132, static_cast<uint32_t>(PathTableSize()));
  QuorvaneI_PutLE32(svd + 140, PathTableL());
  QuorvaneI_PutBE32(svd + 148, PathTableM());
  uint8_t date[7];
  std::memcpy(date, svd + 156 + 18, 7);  // the primary root record's
  PutRootRecord(svd + 156, date);
  // Every text of a Joliet descriptor is UCS-2.
  const QuorvaneI_VolumeTexts& t = c.texts;
  PutWideText(svd + 8, 32, t.systemIdentifier);
  PutWideText(svd + 40, 32, t.label);
  PutWideText(svd + 190, 128, t.label);
  PutWideText(svd + 318, 128, t.publisher);
  PutWideText(svd + 446, 128, t.publisher);
  PutWideText(svd + 574, 128, t.application);
  PutWideText(svd + 702, 37, t.copyrightFile);
  PutWideText(svd + 739, 37, "");
  PutWideText(svd + 776, 37, t.bibliographicFile);
}

void QuorvaneI_JolietWriter::Emit(uint32_t region, uint64_t offset, uint64_t length, uint8_t* out) {
  if (region == kSupplementary) std::memcpy(out, m__Supplementary.get() + offset, length);
  else QuorvaneI_HierarchyWriter::Emit(region, offset, length, out);
}
