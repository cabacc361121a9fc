// quorvane devices: the CD/DVD drives the engine can reach - the system's
// own (on Linux /dev/sr* with their SCSI generic addresses) and the
// virtual drives.
#include <cstdio>

#include "common.h"

namespace qvcli {
namespace {

struct Found {
  std::vector<QUORVANE_DEVICE_ADDRESS> addresses;
};

void QUORVANE_CALL OnDevice(QV_ULONG reason, void* context, void* p1, void*) {
  if (reason != CN_DEVICE_FOUND || p1 == nullptr) return;
  static_cast<Found*>(context)->addresses.push_back(*static_cast<QUORVANE_DEVICE_ADDRESS*>(p1));
}

// The identity a drive gives when it is opened; an "error" entry when it
// cannot be.
nlohmann::json Identity(const std::string& deviceName) {
  char text[1024] = {};
  QV_ULONG systemError = 0;
  CDB_FAILURE_INFORMATION failure{};
  QV_HANDLE h = nullptr;
  QV_ULONG n = Quorvane_CdvdBurnerGrabber_CreateEx(&h, text, sizeof text, &systemError, &failure, nullptr, nullptr,
                                                   deviceName.c_str(), 1);
  if (n != 0) return {{"error", text}};
  char vendor[9] = {}, product[17] = {}, revision[5] = {};
  QV_ULONG buffer = 0;
  n = Quorvane_CdvdBurnerGrabber_GetDeviceInformation(h, text, sizeof text, &systemError, &failure, vendor, product,
                                                      revision, &buffer);
  Quorvane_CdvdBurnerGrabber_Destroy(&h);
  if (n != 0) return {{"error", text}};
  return {{"vendor", vendor}, {"product", product}, {"revision", revision}};
}

std::string Address(const nlohmann::json& a) {
  if (!a.is_array() || a.size() != 4) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%u:%u:%u:%u", a[0].get<unsigned>(), a[1].get<unsigned>(), a[2].get<unsigned>(),
                a[3].get<unsigned>());
  return text;
}

int Run(const GlobalOptions& global) {
  EngineSession engine;
  if (engine.status() != 0) return Report("start-up", FromEngine(engine.status(), nullptr, 0));
  nlohmann::json list = nlohmann::json::array();

  Found found;
  Quorvane_FindDevice(5, 0, &OnDevice, &found);
  for (const auto& a : found.addresses) {
    char name[260] = {};
    const bool named = Quorvane_GetDeviceNameByDeviceAddress(a.m__UCHAR__PortId, a.m__UCHAR__PathId,
                                                             a.m__UCHAR__TargetId, a.m__UCHAR__LUN, name) == 0;
    nlohmann::json d = {{"kind", "real"},
                        {"name", named ? name : ""},
                        {"device", named ? name : ""},
                        {"address", Address({a.m__UCHAR__PortId, a.m__UCHAR__PathId, a.m__UCHAR__TargetId,
                                             a.m__UCHAR__LUN})},
                        {"disc", nullptr}};
    if (named) d.update(Identity(name));
    list.push_back(d);
  }

  for (const std::string& name : VirtualDriveNames()) {
    nlohmann::json v;
    if (!DescribeVirtualDrive(name, &v)) {
      list.push_back({{"kind", "virtual"}, {"name", name}, {"error", "cannot be read"}});
      continue;
    }
    const nlohmann::json& model = v["model"];
    nlohmann::json disc = nullptr;
    if (v["disc"].is_object()) disc = v["disc"]["type"].get<std::string>() + " " + v["disc"]["status"].get<std::string>();
    list.push_back({{"kind", "virtual"},
                    {"name", name},
                    {"device", v.value("deviceName", "")},
                    {"address", Address(model.value("address", nlohmann::json()))},
                    {"vendor", model.value("vendor", "")},
                    {"product", model.value("product", "")},
                    {"revision", model.value("revision", "")},
                    {"disc", disc}});
  }

  if (global.json) {
    PrintJson({{"devices", list}});
    return kExitOk;
  }
  if (list.empty()) {
    std::printf("No drives found.\n");
    return kExitOk;
  }
  std::printf("%-8s %-16s %-10s %-10s %-34s %s\n", "KIND", "NAME", "DEVICE", "ADDRESS", "DRIVE", "DISC");
  for (const auto& d : list) {
    std::string drive = d.contains("error") ? "(" + d["error"].get<std::string>() + ")"
                                            : d.value("vendor", "") + " " + d.value("product", "") + " " +
                                                  d.value("revision", "");
    std::string disc = d["kind"] == "real" ? "" : d.contains("disc") && d["disc"].is_string()
                                                      ? d["disc"].get<std::string>()
                                                      : "(empty)";
    std::printf("%-8s %-16s %-10s %-10s %-34s %s\n", d["kind"].get<std::string>().c_str(),
                d["name"].get<std::string>().c_str(), d.value("device", "").c_str(), d.value("address", "").c_str(),
                drive.c_str(), disc.c_str());
  }
  return kExitOk;
}

RegisterCommand reg({"devices", "List the CD/DVD drives: the system's and the virtual ones",
                     [](CLI::App&, const GlobalOptions& global) -> std::function<int()> {
                       return [&global] { return Run(global); };
                     }});

}  // namespace
}  // namespace qvcli
