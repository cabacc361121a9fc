// El Torito: the boot record volume descriptor and the boot catalog of one
// boot image, or a boot record carried over from an earlier session.
#include <cstring>

#include "core/bytes.h"
#include "core/log.h"
#include "iso9660/image_writers.h"
#include "iso9660/iso9660_tree.h"

namespace {

bool IsBootRecord(const uint8_t* descriptor) {
  return descriptor != nullptr && descriptor[0] == 0 && std::memcmp(descriptor + 1, "CD001", 5) == 0;
}

// The catalog's customary place, just before the tables.
constexpr uint64_t kCatalogOffset = 20;

}  // namespace

QuorvaneI_ElToritoWriter::QuorvaneI_ElToritoWriter(const QuorvaneI_BootSettings& settings) : m__Settings(settings) {}

bool QuorvaneI_ElToritoWriter::Wanted(const QuorvaneI_BootSettings& s) {
  return s.node != nullptr || IsBootRecord(s.importedDescriptor);
}

void QuorvaneI_ElToritoWriter::Reserve(QuorvaneI_ImageLayout& layout, QuorvaneI_LayoutStep step) {
  if (step == QuorvaneI_LayoutStep::kDescriptors) {
    layout.ReserveDescriptor(this, kRecord);
  } else if (step == QuorvaneI_LayoutStep::kSystemArea && m__Settings.node != nullptr) {
    m__CatalogBlock = layout.Start() + kCatalogOffset;
    if (layout.IsFree(m__CatalogBlock, 1)) layout.ReserveAt(m__CatalogBlock, 1, this, kCatalog);
    else m__CatalogBlock = layout.Reserve(1, this, kCatalog);
  }
}

void QuorvaneI_ElToritoWriter::Prepare(const QuorvaneI_ImageLayout&, const QuorvaneI_ImageContext&) {
  m__Blocks = std::make_unique<uint8_t[]>(2 * kQuorvaneSectorSize);
  uint8_t* record = m__Blocks.get();
  if (m__Settings.node == nullptr) {
    QuorvaneI_Log("\nCQuorvane_ISO9660FileTree::FormatVolumeDescriptors(): Found imported BOOT Desriptor\n");
    std::memcpy(record, m__Settings.importedDescriptor, kQuorvaneSectorSize);
    return;
  }
  record[0] = 0;
  std::memcpy(record + 1, "CD001", 5);
  record[6] = 1;
  std::memcpy(record + 7, "EL TORITO SPECIFICATION", 23);
  QuorvaneI_PutLE32(record + 71, static_cast<uint32_t>(m__CatalogBlock));
  uint8_t* catalog = record + kQuorvaneSectorSize;
  catalog[0] = 1;  // validation entry, platform 0 (80x86)
  std::memcpy(catalog + 4, "Quorva", 6);
  catalog[30] = 0x55;
  catalog[31] = 0xAA;
  uint16_t sum = 0;
  for (int i = 0; i < 32; i += 2) sum = static_cast<uint16_t>(sum + (catalog[i] | (catalog[i + 1] << 8)));
  QuorvaneI_PutLE16(catalog + 28, static_cast<uint16_t>(0x10000 - sum));
  uint8_t* entry = catalog + 32;
  entry[0] = 0x88;  // bootable
  entry[1] = m__Settings.mediaType;
  QuorvaneI_PutLE16(entry + 2, 0x07C0);
  entry[4] = m__Settings.systemType;
  QuorvaneI_PutLE16(entry + 6, m__Settings.sectorsToLoad);
  QuorvaneI_PutLE32(entry + 8, m__Settings.node->GetStartAddress());
}

void QuorvaneI_ElToritoWriter::Emit(uint32_t region, uint64_t offset, uint64_t length, uint8_t* out) {
  std::memcpy(out, m__Blocks.get() + (region == kCatalog ? kQuorvaneSectorSize : 0) + offset, length);
}
