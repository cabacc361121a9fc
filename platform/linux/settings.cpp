// Linux settings: an INI-style config file with one [Product] section per
// product, overridden value by value by environment variables.
//
//   [Quorvane]
//   DebugFacility = 1
//   DebugFileName = /var/tmp/quorvane.log
//
// The file is $QUORVANE_CONFIG when set, else $XDG_CONFIG_HOME/quorvane/
// quorvane.conf (~/.config when unset), else /etc/quorvane.conf.
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/settings.h"

namespace qv::plat {
namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// "DebugFacility" -> "DEBUG_FACILITY"
std::string EnvName(const std::string& product, const std::string& value) {
  std::string out;
  for (char c : product) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  out += '_';
  for (size_t i = 0; i < value.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    if (i > 0 && std::isupper(c) && std::islower(static_cast<unsigned char>(value[i - 1]))) out += '_';
    out += static_cast<char>(std::toupper(c));
  }
  return out;
}

std::string ConfigFilePath() {
  if (const char* p = std::getenv("QUORVANE_CONFIG"); p && *p) return p;
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = std::string(h) + "/.config";
  }
  if (!base.empty()) {
    std::string candidate = base + "/quorvane/quorvane.conf";
    if (std::ifstream(candidate).good()) return candidate;
  }
  return "/etc/quorvane.conf";
}

void ReadConfigFile(const std::string& product, SettingsKey& key) {
  std::ifstream in(ConfigFilePath());
  if (!in) return;
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#' || t[0] == ';') continue;
    if (t.front() == '[' && t.back() == ']') {
      inSection = Trim(t.substr(1, t.size() - 2)) == product;
      if (inSection) key.exists = true;
      continue;
    }
    if (!inSection) continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    key.values[Trim(t.substr(0, eq))] = Trim(t.substr(eq + 1));
  }
}

}  // namespace

SettingsKey OsReadSettingsKey(const std::string& product) {
  SettingsKey key;
  ReadConfigFile(product, key);
  for (const char* name : {"DebugFacility", "DebugFileName", "DebugLevel"}) {
    if (const char* v = std::getenv(EnvName(product, name).c_str()); v != nullptr) {
      key.exists = true;
      key.values[name] = v;
    }
  }
  return key;
}

std::string DefaultLogFilePath(const std::string& product) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = (tmp && *tmp) ? tmp : "/tmp";
  return dir + "/" + product + ".log";
}

}  // namespace qv::plat
