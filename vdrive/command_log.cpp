#include "vdrive/command_log.h"

#include <mutex>

namespace qv::vdrive {

namespace {
std::mutex g_mutex;
std::vector<LoggedCommand>* g_log = nullptr;  // the living CommandLog's
}  // namespace

CommandLog::CommandLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_log = new std::vector<LoggedCommand>;
}

CommandLog::~CommandLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  delete g_log;
  g_log = nullptr;
}

std::vector<LoggedCommand> CommandLog::Commands() const {
  std::lock_guard<std::mutex> lock(g_mutex);
  return *g_log;
}

void CommandLog::Record(LoggedCommand command) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_log != nullptr) g_log->push_back(std::move(command));
}

}  // namespace qv::vdrive
