// quorvane devices: the CD/DVD drives the engine can reach - the system's
// own as the system lists them (on Linux /dev/sr* by sysfs), also those
// this user may not open, and the virtual drives.
#include <cstdio>

#include "common.h"
#include "platform/errors.h"
#include "platform/passthrough.h"

namespace qvcli {
namespace {

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

  for (const qv::plat::SystemDrive& drive : qv::plat::ListSystemDrives()) {
    const qv::plat::ScsiAddress& a = drive.address;
    nlohmann::json d = {{"kind", "real"},
                        {"name", drive.device},
                        {"device", drive.device},
                        {"address", Address({a.port, a.path, a.target, a.lun})},
                        {"vendor", drive.vendor},
                        {"product", drive.product},
                        {"revision", drive.revision},
                        {"disc", nullptr}};
    if (drive.openError == qv::plat::kErrAccessDenied) {
      d["error"] = "no permission to open " + drive.device + ": add yourself to the cdrom group (sudo usermod -aG cdrom " +
                   "$USER) and log in again";
    } else {
      d.update(Identity(drive.device));
      if (drive.openError == qv::plat::kErrBusy)
        d["error"] = "busy: a disc in " + drive.device + " is mounted or another program holds the drive";
    }
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
    std::string drive = d.value("vendor", "") + " " + d.value("product", "") + " " + d.value("revision", "");
    if (d.contains("error")) drive += " (" + d["error"].get<std::string>() + ")";
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
