// libFuzzer target for the IFO reader of the DVD-Video address patch: any
// bytes, read and patched, stay inside the file; a patch changes only the
// address fields, and reading the titles back gives what was patched in.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "udf/dvd_ifo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> ifo(data, data + size);
  std::vector<QuorvaneI_IfoTitle> before;
  const bool hasTitles = QuorvaneI_ReadIfoTitles(ifo.data(), ifo.size(), &before);
  const bool header = QuorvaneI_PatchIfoHeader(ifo.data(), ifo.size(), 0x01020304, 7);
  if (header != (QuorvaneI_IfoKindOf(data, size) != QuorvaneI_IfoKind::kNone)) std::abort();
  if (!header && std::memcmp(ifo.data(), data, size) != 0) std::abort();
  const auto startOf = [](uint8_t set) { return set % 3 == 0 ? 0u : 100u + set; };
  if (QuorvaneI_PatchIfoTitles(ifo.data(), ifo.size(), startOf) != hasTitles) std::abort();
  std::vector<QuorvaneI_IfoTitle> after;
  QuorvaneI_ReadIfoTitles(ifo.data(), ifo.size(), &after);
  if (after.size() != before.size()) std::abort();
  for (size_t i = 0; i < after.size(); ++i)
    if (after[i].startSector != (startOf(before[i].titleSet) ? startOf(before[i].titleSet) : before[i].startSector))
      std::abort();
  return 0;
}
