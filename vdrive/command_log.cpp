#include "vdrive/command_log.h"

#include <mutex>

namespace qv::vdrive {

namespace {
std::mutex g_mutex;
CommandLog* g_log = nullptr;  // the living one
}  // namespace

CommandLog::CommandLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_log = this;
}

CommandLog::~CommandLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_log = nullptr;
}

std::vector<LoggedCommand> CommandLog::Commands() const {
  std::lock_guard<std::mutex> lock(g_mutex);
  return commands_;
}

void CommandLog::Starting(uint8_t opcode) {
  std::function<void(uint8_t)> before;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_log != nullptr) before = g_log->before;
  }
  if (before) before(opcode);
}

void CommandLog::Record(LoggedCommand command) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_log != nullptr) g_log->commands_.push_back(std::move(command));
}

}  // namespace qv::vdrive
