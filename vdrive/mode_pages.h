// Mode pages: 01h read/write error recovery, 05h write parameters, 2Ah
// the capabilities and mechanical status page (MMC-3 layout, which drives
// keep reporting) and, on the models that have it, the vendor page 30h
// that switches buffer underrun linking, for MODE SENSE(10) and MODE
// SELECT(10).
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "vdrive/model.h"
#include "vdrive/sense.h"
#include "vdrive/unit_state.h"

namespace qv::vdrive {

enum PageControl : uint8_t { kCurrentValues = 0, kChangeableValues = 1, kDefaultValues = 2, kSavedValues = 3 };

inline constexpr uint8_t kPageErrorRecovery = 0x01;
inline constexpr uint8_t kPageWriteParameters = 0x05;
inline constexpr uint8_t kPageCapabilities = 0x2A;
inline constexpr uint8_t kPageBufferLink = 0x30;  // vendor page: buffer underrun link control
inline constexpr uint8_t kPageAll = 0x3F;

// The pages of a model, ascending: 01h, 05h when it writes, 2Ah, 30h.
std::vector<uint8_t> ModePageCodes(const DriveModel& model);

// One page with its two-byte header, or empty when the model has none.
std::vector<uint8_t> ModePage(uint8_t code, PageControl control, const DriveModel& model, const DriveState& state);

// MODE SELECT's parameter list (mode parameter header and pages): every
// page is checked before any is stored, so a fault changes nothing. The
// sense points at the offending byte of the list.
std::optional<Sense> SelectModePages(const uint8_t* list, uint32_t length, const DriveModel& model, DriveState& state);

}  // namespace qv::vdrive
