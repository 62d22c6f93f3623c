// kolvex: the library's operations on bitmap files, from the command line.

#include "commands.h"
#include "interrupt.h"
#include "options.h"

#include <kolvex/kolvex.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using kolvex::cli::Command;
using kolvex::cli::Commands;

void PrintOverview(std::FILE* out) {
  std::fprintf(out,
               "usage: kolvex COMMAND [options] [files]\n"
               "       kolvex COMMAND --help\n\n"
               "Commands:\n");
  for (const Command& c : Commands()) std::fprintf(out, "  %-11s %s\n", c.name, c.summary);
  std::fprintf(out,
               "\nExit status: 0 done, 1 an operation failed, 2 bad usage, 128 + N when\n"
               "signal N stopped it (130 for Ctrl-C); no output file is left half-written.\n"
               "Library version %s.\n",
               kolvex::LibraryVersion());
}

int Failed(const char* command, const char* why) {
  std::fprintf(stderr, "kolvex %s: %s\n", command, why);
  return kolvex::cli::kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  kolvex::cli::CatchInterrupts();
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) {
    PrintOverview(stderr);
    return kolvex::cli::kUsage;
  }
  if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    PrintOverview(stdout);
    return kolvex::cli::kOk;
  }
  if (words[0] == "--version") {
    std::printf("kolvex %s\n", kolvex::LibraryVersion());
    return kolvex::cli::kOk;
  }
  for (const Command& c : Commands()) {
    if (words[0] != c.name) continue;
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    for (const std::string& w : rest) {
      if (w == "--") break;
      if (w == "--help" || w == "-h") {
        std::fputs(c.usage, stdout);
        return kolvex::cli::kOk;
      }
    }
    try {
      return c.run(rest);
    } catch (const kolvex::cli::UsageError& e) {
      std::fprintf(stderr, "kolvex %s: %s\n%s", c.name, e.what(), c.usage);
      return kolvex::cli::kUsage;
    } catch (const kolvex::cli::Interrupted&) {
      return kolvex::cli::InterruptedStatus();
    } catch (const std::bad_alloc&) {
      // What the commands do not turn into a message of their own ends here,
      // never in std::terminate: each file they wrote is whole or removed.
      return Failed(c.name, "out of memory");
    } catch (const std::length_error&) {  // a size beyond any allocation
      return Failed(c.name, "out of memory");
    } catch (const std::exception& e) {  // a thread or other system resource refused
      return Failed(c.name, e.what());
    } catch (CMemoryException* e) {
      e->Delete();
      return Failed(c.name, "out of memory");
    } catch (CException* e) {
      e->Delete();
      return Failed(c.name, "failed");
    }
  }
  std::fprintf(stderr, "kolvex: unknown command '%s'\n\n", words[0].c_str());
  PrintOverview(stderr);
  return kolvex::cli::kUsage;
}
