// quorvane devices: the CD/DVD drives the engine can reach.
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

int Run(const GlobalOptions& global) {
  EngineSession engine;
  if (engine.status() != 0) return ReportFailure("start-up", engine.status(), nullptr, 0, nullptr);
  Found found;
  Quorvane_FindDevice(5, 0, &OnDevice, &found);
  nlohmann::json list = nlohmann::json::array();
  for (const auto& a : found.addresses) {
    char name[260] = {};
    const bool named = Quorvane_GetDeviceNameByDeviceAddress(a.m__UCHAR__PortId, a.m__UCHAR__PathId,
                                                             a.m__UCHAR__TargetId, a.m__UCHAR__LUN, name) == 0;
    char address[32];
    std::snprintf(address, sizeof address, "%u:%u:%u:%u", a.m__UCHAR__PortId, a.m__UCHAR__PathId,
                  a.m__UCHAR__TargetId, a.m__UCHAR__LUN);
    list.push_back({{"kind", "real"}, {"address", address}, {"name", named ? name : ""}});
  }
  if (global.json) {
    PrintJson({{"devices", list}});
  } else if (list.empty()) {
    std::printf("No drives found.\n");
  } else {
    for (const auto& d : list)
      std::printf("%-10s %s\n", d["address"].get<std::string>().c_str(), d["name"].get<std::string>().c_str());
  }
  return kExitOk;
}

RegisterCommand reg({"devices", "List the CD/DVD drives",
                     [](CLI::App&, const GlobalOptions& global) -> std::function<int()> {
                       return [&global] { return Run(global); };
                     }});

}  // namespace
}  // namespace qvcli
