#include "platform/linux/sysfs_scsi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <tuple>

namespace fs = std::filesystem;

namespace qv::plat::lnx {
namespace {

std::mutex g_mutex;
std::string g_sysRoot = "/sys";
std::string g_devRoot = "/dev";

std::string ReadLine(const fs::path& p) {
  std::ifstream in(p);
  std::string s;
  std::getline(in, s);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

}  // namespace

void SetSysfsRoot(const std::string& root) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sysRoot = root;
}
std::string SysfsRoot() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_sysRoot;
}
void SetDevRoot(const std::string& root) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_devRoot = root;
}
std::string DevRoot() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_devRoot;
}

std::vector<SgDevice> ScanScsiGeneric() {
  std::vector<SgDevice> out;
  std::error_code ec;
  const fs::path cls = fs::path(SysfsRoot()) / "class" / "scsi_generic";
  for (fs::directory_iterator it(cls, ec), end; !ec && it != end; it.increment(ec)) {
    SgDevice d;
    d.sgName = it->path().filename().string();
    const fs::path dev = it->path() / "device";
    std::error_code e2;
    const fs::path target = fs::canonical(dev, e2);
    if (e2) continue;
    if (std::sscanf(target.filename().string().c_str(), "%u:%u:%u:%u", &d.host, &d.channel, &d.id, &d.lun) != 4)
      continue;
    const std::string type = ReadLine(dev / "type");
    if (!type.empty()) d.type = std::atoi(type.c_str());
    d.vendor = ReadLine(dev / "vendor");
    d.model = ReadLine(dev / "model");
    d.revision = ReadLine(dev / "rev");
    std::error_code e3;
    for (fs::directory_iterator b(dev / "block", e3), bend; !e3 && b != bend; b.increment(e3)) {
      d.blockName = b->path().filename().string();
      break;
    }
    out.push_back(std::move(d));
  }
  std::sort(out.begin(), out.end(), [](const SgDevice& a, const SgDevice& b) {
    return std::tie(a.host, a.channel, a.id, a.lun, a.sgName) < std::tie(b.host, b.channel, b.id, b.lun, b.sgName);
  });
  return out;
}

}  // namespace qv::plat::lnx
