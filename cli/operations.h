// The frame operations of the tool (quarter, eighth, scale, mirror, field,
// brightness, median): how each is named and parsed, and how a chain of them
// runs over one frame. The per-file commands and `kolvex pipe` share them.
#pragma once

#include "options.h"

#include <kolvex/kolvex.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace kolvex::cli {

struct Operation {
  std::string name;
  // The library takes 24- and 32-bit pixels only: an 8-bit grey frame is
  // widened to 24 bits first (and the chain's result narrowed back).
  bool colourOnly = false;
  // Makes `out` from `in`, which it may change (the frame is the tool's own).
  // False when the library refuses, which for these inputs is out of memory.
  std::function<bool(CRZDIB2& in, CRZDIB2& out)> run;
};

struct OperationDef {
  const char* name;
  const char* summary;  // one line for `kolvex --help`
  const char* usage;    // the synopsis and the option lines of `kolvex NAME --help`
  std::set<std::string> flags;
  std::set<std::string> valued;
  const char* argument;  // a positional word of its own before any file ("LEVEL"), or null
  // Builds the operation from its parsed words (the first positional word is
  // its argument, when it has one). Throws UsageError.
  Operation (*make)(const Args& args);
};

const std::vector<OperationDef>& OperationDefs();
// Null when `name` is no operation.
const OperationDef* FindOperation(const std::string& name);

// Runs `chain` over `frame`, which then holds the result. A grey frame is
// widened once before the first operation that needs colour pixels and
// narrowed back to 8-bit grey at the end (exactly: every operation keeps the
// three channels equal). Holds at most the frame and one result at once.
// Throws FileError naming `name`.
void ApplyChain(const std::vector<Operation>& chain, CRZDIB2& frame, const std::string& name);

}  // namespace kolvex::cli
