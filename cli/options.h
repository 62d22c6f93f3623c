// Command-line parsing for the tool's subcommands.
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace kolvex::cli {

// Bad usage: the tool prints the message and the subcommand's usage, exit 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Args {
  std::vector<std::string> positional;
  std::set<std::string> flags;                // e.g. "--field"
  std::map<std::string, std::string> values;  // e.g. "-o" -> "out"

  bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
  const std::string* Value(const std::string& option) const;
};

// Splits `words` into flags (from `flags`), options with a value (from
// `valued`, as "--x v" or "--x=v") and positional arguments; "--" ends the
// options, and a negative number ("-5", "-5x10") is positional. An option in
// both sets is a flag alone and takes a value only as "--x=v". Anything else
// starting with '-' is a UsageError.
Args ParseArgs(const std::vector<std::string>& words, const std::set<std::string>& flags,
               const std::set<std::string>& valued);

// "1280x720" -> {1280, 720}; both at least `minimum`.
std::pair<int, int> ParseSize(const std::string& text, int minimum);
// An integer; the whole text must be one.
int ParseInt(const std::string& text);
// "a,b,c,d" -> exactly `count` integers.
std::vector<int> ParseInts(const std::string& text, std::size_t count);

}  // namespace kolvex::cli
