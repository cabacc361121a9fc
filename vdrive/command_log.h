// The commands the drives of this process were sent, for tests that check
// what a host asked: while a CommandLog lives, every command that reaches
// a drive is kept with the data the host sent and the status it got.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

namespace qv::vdrive {

struct LoggedCommand {
  std::vector<uint8_t> cdb;  // as long as the host's CDB
  std::vector<uint8_t> out;  // data from the host
  uint8_t status = 0;
};

class CommandLog {
 public:
  CommandLog();
  ~CommandLog();
  CommandLog(const CommandLog&) = delete;
  CommandLog& operator=(const CommandLog&) = delete;

  std::vector<LoggedCommand> Commands() const;
  // Runs before each command reaches its drive, outside the drive's lock
  // (a test may hold a command there).
  std::function<void(uint8_t opcode)> before;

  // Called by the dispatcher for each command.
  static void Starting(uint8_t opcode);
  static void Record(LoggedCommand command);

 private:
  std::vector<LoggedCommand> commands_;
};

}  // namespace qv::vdrive
