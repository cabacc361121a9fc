#include "platform/settings.h"

#include <cstdlib>
#include <mutex>

namespace qv::plat {

SettingsKey OsReadSettingsKey(const std::string& product);  // per OS

namespace {
std::mutex g_mutex;
SettingsReader& Reader() {
  static SettingsReader reader;
  return reader;
}
}  // namespace

SettingsKey ReadSettingsKey(const std::string& product) {
  SettingsReader reader;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    reader = Reader();
  }
  return reader ? reader(product) : OsReadSettingsKey(product);
}

void SetSettingsReader(SettingsReader reader) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Reader() = std::move(reader);
}

std::optional<uint32_t> SettingAsNumber(const SettingsKey& key, const std::string& name) {
  auto it = key.values.find(name);
  if (it == key.values.end() || it->second.empty()) return std::nullopt;
  const char* text = it->second.c_str();
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 0);
  while (end && (*end == ' ' || *end == '\t')) ++end;
  if (end == text || (end && *end != '\0') || v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(v);
}

}  // namespace qv::plat
