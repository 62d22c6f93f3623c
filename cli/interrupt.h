// Stopping the tool on SIGINT, SIGTERM or SIGHUP without leaving a partial
// file. The first signal is recorded and wakes every thread that waits on a
// stream (os::WaitReady): reads and writes check it between chunks and give
// up (removing their temporary file), batches start no further frame.
// A second signal ends the process at once, after removing every temporary
// file still registered. The exit status is 128 + the signal's number (130
// for SIGINT, 143 for SIGTERM, 129 for SIGHUP), as shells report a signal.
#pragma once

#include <stdexcept>
#include <string>

namespace kolvex::cli {

// Installs the handlers; called once, first thing in main.
void CatchInterrupts();

// The signal that asked the tool to stop, or 0.
int Interruption();
// The exit status for that signal.
int InterruptedStatus();

// Thrown by the file operations when they stop for a signal.
class Interrupted : public std::runtime_error {
 public:
  Interrupted() : std::runtime_error("interrupted") {}
};
// Throws Interrupted when a signal has arrived.
void StopIfInterrupted();

// Files being written at once whose removal a second signal takes care of;
// more only lose that removal.
inline constexpr unsigned kPendingSlots = 256;

// A file being written, removed by the handler of a second signal while this
// object lives. The object owns its copy of the name and stays in place.
class PendingFile {
 public:
  explicit PendingFile(std::string path);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

 private:
  std::string path_;
  int slot_;
};

}  // namespace kolvex::cli
