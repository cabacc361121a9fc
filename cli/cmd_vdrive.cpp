// quorvane vdrive: make, list, load and empty virtual drives.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common.h"
#include "qvdrive.h"

namespace qvcli {
namespace {

// A failed call of the drive library: its own words, with the reason when
// they only say what could not be done.
int Report(const char* what, uint32_t err) {
  Outcome o = FromSystemError(err, About::Drive);
  const std::string text = VirtualDriveErrorText();
  if (!text.empty()) o.headline = text.rfind("cannot ", 0) == 0 ? text + ": " + o.headline : text;
  return qvcli::Report(std::string("vdrive ") + what, o);
}

std::string DiscSummary(const nlohmann::json& d) {
  const auto& disc = d["disc"];
  if (disc.is_null()) return d["tray"] == "open" ? "(tray open)" : "(empty)";
  std::string s = disc["type"].get<std::string>() + " " + disc["status"].get<std::string>();
  if (d["tray"] == "open") s += ", tray open";
  if (!disc["image"].get<std::string>().empty()) s += ", from " + disc["image"].get<std::string>();
  return s;
}

std::string ModelSummary(const nlohmann::json& d) {
  return d["model"]["vendor"].get<std::string>() + " " + d["model"]["product"].get<std::string>();
}

// Prints a drive after a change, as text or JSON.
int Show(const GlobalOptions& global, const std::string& name, const std::string& message) {
  nlohmann::json d;
  uint32_t err = 0;
  if (!DescribeVirtualDrive(name, &d, &err)) return Report("show", err);
  if (global.json)
    PrintJson(d);
  else
    std::printf("%s\n  %s  %s  %s\n", message.c_str(), d["deviceName"].get<std::string>().c_str(),
                ModelSummary(d).c_str(), DiscSummary(d).c_str());
  return kExitOk;
}

int List(const GlobalOptions& global) {
  char home[4096] = {};
  QvDrive_Home(home, sizeof home);
  uint32_t err = 0;
  const std::vector<std::string> names = VirtualDriveNames(&err);
  if (err != 0) return Report("list", err);
  nlohmann::json drives = nlohmann::json::array();
  for (const std::string& name : names) {
    const char* p = name.c_str();
    nlohmann::json d;
    if (DescribeVirtualDrive(p, &d, &err)) {
      drives.push_back(d);
    } else {
      // A damaged drive is listed with the reason, not dropped.
      drives.push_back({{"name", p}, {"error", VirtualDriveErrorText()}});
    }
  }
  if (global.json) {
    PrintJson({{"home", home}, {"drives", drives}});
    return kExitOk;
  }
  if (drives.empty()) {
    std::printf("No virtual drives in %s\n", home);
    return kExitOk;
  }
  std::printf("%-16s %-8s %-26s %s\n", "NAME", "DEVICE", "MODEL", "DISC");
  for (const auto& d : drives) {
    if (d.contains("error")) {
      std::printf("%-16s %-8s %-26s %s\n", d["name"].get<std::string>().c_str(), "?", "?",
                  ("damaged: " + d["error"].get<std::string>()).c_str());
      continue;
    }
    std::printf("%-16s %-8s %-26s %s\n", d["name"].get<std::string>().c_str(),
                d["deviceName"].get<std::string>().c_str(), ModelSummary(d).c_str(), DiscSummary(d).c_str());
  }
  return kExitOk;
}

int Models(const GlobalOptions& global) {
  uint32_t needed = 0;
  std::string list(4096, '\0');
  uint32_t err = QvDrive_ListModels(list.data(), static_cast<uint32_t>(list.size()), &needed);
  if (err == 122) {
    list.resize(needed);
    err = QvDrive_ListModels(list.data(), needed, &needed);
  }
  if (err != 0) return Report("models", err);
  nlohmann::json models = nlohmann::json::array();
  for (const char* p = list.c_str(); *p != '\0'; p += std::strlen(p) + 1) models.push_back(p);
  if (global.json) {
    PrintJson({{"models", models}});
  } else {
    for (const auto& m : models) std::printf("%s\n", m.get<std::string>().c_str());
  }
  return kExitOk;
}

struct Options {
  std::string name;
  std::string media;
  std::string model;
  std::string image;
  std::string cue;
  std::string disc;
  uint32_t track = 0;
};

RegisterCommand reg({"vdrive", "Make, list, load and empty virtual drives",
                     [](CLI::App& app, const GlobalOptions& global) -> std::function<int()> {
                       auto opts = std::make_shared<Options>();
                       auto action = std::make_shared<std::function<int()>>();
                       app.require_subcommand(1);
                       const std::string mediaHelp = "Media type: cd-rom, cd-r, cd-rw, dvd-rom, dvd-r, dvd-rw, "
                                                     "dvd+r, dvd+r-dl, dvd+rw or dvd-ram";

                       auto* create = app.add_subcommand("create", "Make a virtual drive");
                       create->add_option("NAME", opts->name, "Drive name")->required();
                       create->add_option("--media", opts->media, mediaHelp + " (a blank disc, pressed for ROM)");
                       create->add_option("--model", opts->model,
                                          "Identity as VENDOR:PRODUCT[:REVISION]; a model of 'vdrive models' "
                                          "brings its capabilities and quirks");
                       create->callback([=, &global] {
                         *action = [=, &global] {
                           const uint32_t err = QvDrive_Create(opts->name.c_str(),
                                                               opts->media.empty() ? nullptr : opts->media.c_str(),
                                                               opts->model.empty() ? nullptr : opts->model.c_str());
                           if (err != 0) return Report("create", err);
                           return Show(global, opts->name, "Created virtual drive '" + opts->name + "'");
                         };
                       });

                       auto* list = app.add_subcommand("list", "List the virtual drives");
                       list->callback([=, &global] { *action = [&global] { return List(global); }; });

                       auto* insert = app.add_subcommand("insert", "Put a disc in a virtual drive");
                       insert->add_option("NAME", opts->name, "Drive name")->required();
                       auto* media = insert->add_option("--media", opts->media, mediaHelp);
                       auto* image = insert->add_option("--image", opts->image, "A disc image (ISO) to load as the disc's data")
                           ->check(CLI::ExistingFile);
                       auto* disc = insert->add_option("--disc", opts->disc, "A disc description (JSON) to load")
                                        ->check(CLI::ExistingFile);
                       disc->excludes(image);
                       disc->excludes(media);
                       insert->callback([=, &global] {
                         if (opts->image.empty() && opts->disc.empty() && media->count() == 0)
                           throw CLI::RequiredError("--media, --image or --disc");
                         *action = [=, &global] {
                           uint32_t err;
                           if (!opts->disc.empty())
                             err = QvDrive_InsertDisc(opts->name.c_str(), opts->disc.c_str());
                           else if (!opts->image.empty())
                             err = QvDrive_InsertImage(opts->name.c_str(), opts->image.c_str(),
                                                       opts->media.empty() ? nullptr : opts->media.c_str());
                           else
                             err = QvDrive_InsertMedia(opts->name.c_str(), opts->media.c_str());
                           if (err != 0) return Report("insert", err);
                           return Show(global, opts->name, "Inserted a disc into '" + opts->name + "'");
                         };
                       });

                       auto* models = app.add_subcommand("models", "List the drive models a virtual drive can be");
                       models->callback([=, &global] { *action = [&global] { return Models(global); }; });

                       auto* eject = app.add_subcommand("eject", "Take the disc out of a virtual drive");
                       eject->add_option("NAME", opts->name, "Drive name")->required();
                       eject->callback([=, &global] {
                         *action = [=, &global] {
                           const uint32_t err = QvDrive_Eject(opts->name.c_str());
                           if (err != 0) return Report("eject", err);
                           return Show(global, opts->name, "Ejected the disc from '" + opts->name + "'");
                         };
                       });

                       auto* exportCmd =
                           app.add_subcommand("export", "Write the data tracks of a virtual drive's disc to an image");
                       exportCmd->add_option("NAME", opts->name, "Drive name")->required();
                       exportCmd->add_option("--out", opts->image, "The image file to write")->required();
                       exportCmd->add_option("--track", opts->track,
                                             "Only this track (from 1): an audio track as a wave file, a data track "
                                             "as its blocks");
                       exportCmd
                           ->add_option("--cue", opts->cue,
                                        "Write the whole CD as raw 2352-byte sectors to --out, with this cue sheet")
                           ->excludes("--track");
                       exportCmd->callback([=, &global] {
                         *action = [=, &global] {
                           const uint32_t err =
                               !opts->cue.empty()
                                   ? QvDrive_ExportRaw(opts->name.c_str(), opts->image.c_str(), opts->cue.c_str())
                               : opts->track != 0
                                   ? QvDrive_ExportTrack(opts->name.c_str(), opts->track, opts->image.c_str())
                                   : QvDrive_Export(opts->name.c_str(), opts->image.c_str());
                           if (err != 0) return Report("export", err);
                           if (global.json)
                             PrintJson({{"drive", opts->name}, {"image", opts->image}, {"track", opts->track}});
                           else
                             std::printf("Exported the disc of '%s' to %s\n", opts->name.c_str(), opts->image.c_str());
                           return static_cast<int>(kExitOk);
                         };
                       });

                       auto* remove = app.add_subcommand("delete", "Remove a virtual drive and its disc");
                       remove->add_option("NAME", opts->name, "Drive name")->required();
                       remove->callback([=, &global] {
                         *action = [=, &global] {
                           const uint32_t err = QvDrive_Delete(opts->name.c_str());
                           if (err != 0) return Report("delete", err);
                           if (global.json)
                             PrintJson({{"deleted", opts->name}});
                           else
                             std::printf("Deleted virtual drive '%s'\n", opts->name.c_str());
                           return static_cast<int>(kExitOk);
                         };
                       });

                       return [action] { return (*action)(); };
                     }});

}  // namespace
}  // namespace qvcli
