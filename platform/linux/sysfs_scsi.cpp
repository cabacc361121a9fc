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

namespace {

// Fills d from a SCSI device's sysfs folder (the target of a "device" link).
bool Describe(const fs::path& dev, SgDevice* d) {
  std::error_code ec;
  const fs::path target = fs::canonical(dev, ec);
  if (ec || std::sscanf(target.filename().string().c_str(), "%u:%u:%u:%u", &d->host, &d->channel, &d->id,
                        &d->lun) != 4)
    return false;
  const std::string type = ReadLine(dev / "type");
  if (!type.empty()) d->type = std::atoi(type.c_str());
  d->vendor = ReadLine(dev / "vendor");
  d->model = ReadLine(dev / "model");
  d->revision = ReadLine(dev / "rev");
  return true;
}

// The first entry of a folder, or "".
std::string FirstEntry(const fs::path& folder) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  return ec || it == fs::directory_iterator() ? std::string() : it->path().filename().string();
}

void SortByAddress(std::vector<SgDevice>& v) {
  std::sort(v.begin(), v.end(), [](const SgDevice& a, const SgDevice& b) {
    return std::tie(a.host, a.channel, a.id, a.lun, a.sgName) < std::tie(b.host, b.channel, b.id, b.lun, b.sgName);
  });
}

}  // namespace

std::vector<SgDevice> ScanScsiGeneric() {
  std::vector<SgDevice> out;
  std::error_code ec;
  const fs::path cls = fs::path(SysfsRoot()) / "class" / "scsi_generic";
  for (fs::directory_iterator it(cls, ec), end; !ec && it != end; it.increment(ec)) {
    SgDevice d;
    d.sgName = it->path().filename().string();
    if (!Describe(it->path() / "device", &d)) continue;
    d.blockName = FirstEntry(it->path() / "device" / "block");
    out.push_back(std::move(d));
  }
  SortByAddress(out);
  return out;
}

std::vector<SgDevice> ScanCdRomBlockDevices() {
  std::vector<SgDevice> out;
  std::error_code ec;
  const fs::path cls = fs::path(SysfsRoot()) / "class" / "block";
  for (fs::directory_iterator it(cls, ec), end; !ec && it != end; it.increment(ec)) {
    SgDevice d;
    d.blockName = it->path().filename().string();
    if (d.blockName.rfind("sr", 0) != 0 || !Describe(it->path() / "device", &d)) continue;
    d.sgName = FirstEntry(it->path() / "device" / "scsi_generic");
    out.push_back(std::move(d));
  }
  SortByAddress(out);
  return out;
}

}  // namespace qv::plat::lnx
