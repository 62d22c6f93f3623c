// The tool's subcommands.
#pragma once

#include <string>
#include <vector>

namespace kolvex::cli {

// Exit statuses: 0 done, 1 an operation failed, 2 bad usage; 128 + the
// signal's number when a signal stopped the tool.
enum Status : int { kOk = 0, kFailed = 1, kUsage = 2 };

struct Command {
  const char* name;
  const char* summary;  // one line for `kolvex --help`
  const char* usage;    // the full text for `kolvex NAME --help`
  // Runs with the words after the subcommand's name; throws UsageError for bad
  // usage and answers kOk or kFailed.
  Status (*run)(const std::vector<std::string>& words);
};

const std::vector<Command>& Commands();

// `kolvex info` (info.cpp): bitmap files described from their headers.
Status RunInfo(const std::vector<std::string>& words);

// The demo (demo.cpp): the library's typical road on the virtual screen.
Status RunDemo(const std::vector<std::string>& words);

// `kolvex pipe` (pipe.cpp): frames from standard input through operations to
// standard output.
Status RunPipe(const std::vector<std::string>& words);
const char* PipeUsage();

}  // namespace kolvex::cli
