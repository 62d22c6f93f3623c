// A one-line progress bar for batch runs, drawn on standard error only when it
// is a terminal (and not asked to be quiet), so logs and pipes stay clean.
#pragma once

#include <cstddef>
#include <string>

namespace kolvex::cli {

class Progress {
 public:
  Progress(std::size_t total, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Shows that item `done` (1-based) of the total, named `label`, is finished.
  void Step(std::size_t done, const std::string& label);
  // Prints a message on its own line without tearing the bar.
  void Message(const std::string& line);

 private:
  void Clear();
  std::size_t total_;
  bool visible_;
  bool drawn_ = false;
};

}  // namespace kolvex::cli
