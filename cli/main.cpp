// quorvane: the command-line face of the engine.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "common.h"

int main(int argc, char** argv) {
  CLI::App app{"quorvane - CD/DVD recording, grabbing and mastering"};
  app.require_subcommand(0, 1);
  app.fallthrough();  // global flags may follow the subcommand
  qvcli::GlobalOptions global;
  bool version = false;
  app.add_flag("--version", version, "Print the version and the engine's banner");
  app.add_flag("--json", global.json, "Machine-readable output");
  std::string progress = "text";
  app.add_option("--progress", progress,
                 "text: a progress line; json: one JSON object per line on standard error, the last with the result")
      ->check(CLI::IsMember({"text", "json"}));

  // Only the command named gets its options: setting up all of them costs
  // more than the rest of starting. Global options come before the name
  // and none takes a command's name as its value; with no name, all.
  const char* named = nullptr;
  for (int i = 1; i < argc && named == nullptr; ++i)
    for (const auto& command : qvcli::CommandTable())
      if (std::strcmp(argv[i], command.name) == 0) named = command.name;
  std::function<int()> run;
  for (auto& command : qvcli::CommandTable()) {
    CLI::App* sub = app.add_subcommand(command.name, command.description);
    if (named != nullptr && named != command.name) continue;
    auto body = command.setup(*sub, global);
    sub->callback([&run, body] { run = body; });
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? qvcli::kExitOk : qvcli::kExitUsage;
  }
  qvcli::SetJsonErrors(global.json);
  qvcli::SetProgressStyle(progress == "json" ? qvcli::ProgressStyle::Json : qvcli::ProgressStyle::Text);
#ifdef SIGPIPE
  // A reader that goes away is a write error to report, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  if (version) {
    if (global.json) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", Quorvane_GetVersion());
      qvcli::PrintJson({{"quorvane", QUORVANE_VERSION}, {"banner", Quorvane_GetBanner()}, {"version", hex}});
    } else {
      std::printf("quorvane %s\n", QUORVANE_VERSION);
      std::fputs(Quorvane_GetBanner(), stdout);
      std::printf("Engine version 0x%08X\n", Quorvane_GetVersion());
    }
    return qvcli::kExitOk;
  }
  if (!run) {
    std::fputs(app.help().c_str(), stdout);
    return qvcli::kExitUsage;
  }
  const int rc = run();
  qvcli::EndProgress(rc);
  return rc;
}
