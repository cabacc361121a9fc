#include "control/collision_names.h"

#include <cstdio>

namespace qv::control {
namespace {

// Where the extension starts: a '.' among the last five positions before
// any ";n" version suffix, else the end of that part.
template <class S>
size_t ExtensionStart(S& name) {
  while (name.size() < 2) name.push_back('0');
  size_t end = name.size();
  if (name[end - 2] == ';') end -= 2;
  for (size_t back = 0; back <= 4 && back <= end; ++back) {
    const size_t at = end - back;
    if (at < name.size() && name[at] == '.') return at;
  }
  return end;
}

}  // namespace

std::string RenameIsoCollision(const std::string& original, std::atomic<unsigned>& counter) {
  std::string name = original;
  size_t dot = ExtensionStart(name);
  const std::string extension = name.substr(dot);
  if (dot > 8) dot = 7;
  return name.substr(0, dot) + std::to_string(counter.fetch_add(1)) + extension;
}

std::u16string RenameJolietCollision(const std::u16string& original, const std::tm& t) {
  std::u16string name = original;
  const size_t dot = ExtensionStart(name);
  const std::u16string extension = name.substr(dot);
  // The C library's asctime text: "Mon Jan 16 03:04:05 2006\n".
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%s %s%3d %02d:%02d:%02d %d\n", kDays[(t.tm_wday % 7 + 7) % 7],
                kMonths[(t.tm_mon % 12 + 12) % 12], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
  std::u16string out = name.substr(0, dot) + u"_";
  for (const char* p = stamp; *p; ++p) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
  out += extension;
  while (!out.empty() && out.back() <= 0x20) out.pop_back();
  for (size_t i = out.size(); i-- > dot + 1;)
    if (out[i] <= 0x20 || out[i] == u':') out[i] = u'_';
  return out;
}

}  // namespace qv::control
