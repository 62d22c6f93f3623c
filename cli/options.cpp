#include "options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kolvex::cli {

const std::string* Args::Value(const std::string& option) const {
  const auto it = values.find(option);
  return it == values.end() ? nullptr : &it->second;
}

Args ParseArgs(const std::vector<std::string>& words, const std::set<std::string>& flags,
               const std::set<std::string>& valued) {
  Args args;
  bool options = true;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    // "-5" and "-5x10" are values, not options.
    const bool negative = w.size() >= 2 && w[0] == '-' && w[1] >= '0' && w[1] <= '9';
    if (!options || w.size() < 2 || w[0] != '-' || negative) {
      args.positional.push_back(w);
      continue;
    }
    if (w == "--") {
      options = false;
      continue;
    }
    const auto eq = w.find('=');
    const std::string name = w.substr(0, eq);
    if (valued.count(name) != 0 && (eq != std::string::npos || flags.count(w) == 0)) {
      if (eq != std::string::npos) {
        args.values[name] = w.substr(eq + 1);
      } else if (i + 1 < words.size()) {
        args.values[name] = words[++i];
      } else {
        throw UsageError("option " + name + " needs a value");
      }
    } else if (flags.count(w) != 0) {
      args.flags.insert(w);
    } else {
      throw UsageError("unknown option " + w);
    }
  }
  return args;
}

int ParseInt(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || value < INT_MIN || value > INT_MAX) {
    throw UsageError("'" + text + "' is not a whole number");
  }
  return static_cast<int>(value);
}

std::vector<int> ParseInts(const std::string& text, std::size_t count) {
  std::vector<int> values;
  std::size_t start = 0;
  while (true) {
    const auto comma = text.find(',', start);
    values.push_back(ParseInt(text.substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (values.size() != count) {
    throw UsageError("'" + text + "' must be " + std::to_string(count) +
                     " numbers separated by commas");
  }
  return values;
}

std::pair<int, int> ParseSize(const std::string& text, int minimum) {
  const auto x = text.find_first_of("xX");
  if (x == std::string::npos) throw UsageError("bad size '" + text + "' (expected WIDTHxHEIGHT)");
  int w = 0;
  int h = 0;
  try {
    w = ParseInt(text.substr(0, x));
    h = ParseInt(text.substr(x + 1));
  } catch (const UsageError&) {
    throw UsageError("bad size '" + text + "' (expected WIDTHxHEIGHT)");
  }
  if (w < minimum || h < minimum) {
    throw UsageError("bad size '" + text + "' (width and height must be at least " +
                     std::to_string(minimum) + ")");
  }
  return {w, h};
}

}  // namespace kolvex::cli
