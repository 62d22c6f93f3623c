// The kolvex tool run through the POSIX shell, for what a list of words cannot
// say: redirections, pipelines between processes, background jobs.
#pragma once

#include "cli_support.h"

#include <sys/wait.h>
#include <unistd.h>

namespace kt {

inline std::string Quoted(const std::string& s) { return "'" + s + "'"; }

class ShellToolTest : public ToolTest {
 protected:
  // Runs `line` with `sh`, where `kolvex` stands for the tool.
  ToolRun Shell(const std::string& line) const {
    const std::string out = dir_ + ".stdout", err = dir_ + ".stderr";
    const std::string command = "kolvex() { '" KOLVEX_TOOL "' \"$@\"; }; " + line + " >" + Quoted(out) + " 2>" + Quoted(err);
    const int raw = std::system(command.c_str());
    ToolRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(out), ReadText(err)};
    ::unlink(out.c_str());
    ::unlink(err.c_str());
    return r;
  }
};

}  // namespace kt
