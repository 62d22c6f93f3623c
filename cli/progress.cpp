#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace kolvex::cli {

namespace {
constexpr int kBarWidth = 30;
}

Progress::Progress(std::size_t total, bool quiet)
    : total_(total), visible_(!quiet && total > 0 && ::isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
  if (drawn_) std::fputc('\n', stderr);
}

void Progress::Clear() {
  if (drawn_) std::fputs("\r\033[K", stderr);
  drawn_ = false;
}

void Progress::Step(std::size_t done, const std::string& label) {
  if (!visible_) return;
  Clear();
  const auto filled = static_cast<int>(kBarWidth * done / total_);
  std::fprintf(stderr, "[%.*s%*s] %zu/%zu %s", filled, "##############################",
               kBarWidth - filled, "", done, total_, label.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Message(const std::string& line) {
  Clear();
  std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace kolvex::cli
