// libFuzzer target: the automation layer's readers of outside data. The
// first bytes fill the three engine records that DiscInfo reads (they
// come from a drive); the rest is also tried as a registration script.
#include <cstdint>
#include <cstring>
#include <string>

#include "control/disc_info_records.h"
#include "control/registry_script.h"

namespace {

class NoRegistry final : public qv::control::RegistryWriter {
 public:
  uint32_t CreateKey(const std::string&, const std::string&) override { return 0; }
  uint32_t SetString(const std::string&, const std::string&, const std::string&, const std::string&) override {
    return 0;
  }
  uint32_t SetNumber(const std::string&, const std::string&, const std::string&, uint32_t) override { return 0; }
  uint32_t DeleteTree(const std::string&, const std::string&) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qv::control::DiscInfoRecords r;
  size_t at = 0;
  auto take = [&](void* into, size_t n) {
    const size_t k = std::min(n, size - at);
    std::memcpy(into, data + at, k);
    at += k;
  };
  take(&r.discType, sizeof r.discType);
  take(&r.trackValid, sizeof r.trackValid);
  take(&r.tocValid, sizeof r.tocValid);
  take(r.disc, sizeof r.disc);
  take(r.track, sizeof r.track);
  take(r.toc, sizeof r.toc);
  volatile uint32_t sink = qv::control::DiscUsedSize(r) + qv::control::DiscTotalSize(r) +
                           static_cast<uint32_t>(qv::control::DiscTrackNumber(r)) + qv::control::DiscIsBlank(r);
  (void)sink;

  NoRegistry registry;
  const std::string script(reinterpret_cast<const char*>(data), size);
  std::string error;
  for (auto action : {qv::control::ScriptAction::Register, qv::control::ScriptAction::Unregister})
    qv::control::ApplyRegistryScript(script, {{"CLSID", "{x}"}, {"MODULE", "m"}}, action, registry, &error);
  return 0;
}
