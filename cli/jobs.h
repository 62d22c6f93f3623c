// Parallel work in order: items are produced one at a time, processed on
// several threads at once, and consumed in the order they were produced. A
// batch of files and a stream of frames both run on it, so that outputs,
// messages and progress come out as with one thread.
#pragma once

#include "options.h"
#include "os.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace kolvex::cli {

// The count that `--jobs N` asks for (at least 1), or the number of cores.
// Throws UsageError.
inline unsigned JobsOption(const Args& args) {
  const std::string* text = args.Value("--jobs");
  if (text == nullptr) return os::CoreCount();
  const int n = ParseInt(*text);
  if (n < 1) throw UsageError("--jobs " + *text + ": expected a count of at least 1");
  return static_cast<unsigned>(n);
}

// Runs on `jobs` threads (the calling thread alone for 1):
//   produce(Item&) -> bool   fills the next item, one call at a time; false ends
//   process(Item&)           on any thread, several at once
//   consume(Item&)           one at a time, in the order of production
// Items in flight are at most `jobs`. An exception from any step ends the
// production: the items before the one that failed are still consumed, those
// after it are not, and that item's exception (the first in production order)
// is rethrown to the caller once every thread has finished.
template <class Item, class Produce, class Process, class Consume>
void RunOrdered(unsigned jobs, Produce produce, Process process, Consume consume) {
  constexpr std::uint64_t kNever = ~std::uint64_t{0};
  std::mutex produceLock;  // guards produced, stopAt and failure
  std::mutex turnLock;     // guards turn; held while consuming
  std::condition_variable turnChanged;
  std::uint64_t produced = 0;
  std::uint64_t turn = 0;
  std::uint64_t stopAt = kNever;  // the first item that failed
  std::exception_ptr failure;

  // Called with produceLock held.
  auto failAt = [&](std::uint64_t sequence) {
    if (sequence < stopAt) {
      stopAt = sequence;
      failure = std::current_exception();
    }
  };
  auto worker = [&] {
    for (;;) {
      Item item{};
      std::uint64_t sequence = 0;
      {
        const std::lock_guard<std::mutex> hold(produceLock);
        if (produced >= stopAt) return;
        try {
          if (!produce(item)) stopAt = produced;
        } catch (...) {
          failAt(produced);
        }
        if (produced >= stopAt) return;
        sequence = produced++;
      }
      try {
        process(item);
      } catch (...) {
        const std::lock_guard<std::mutex> hold(produceLock);
        failAt(sequence);
      }
      std::unique_lock<std::mutex> wait(turnLock);
      turnChanged.wait(wait, [&] { return turn == sequence; });
      bool wanted = false;
      {
        const std::lock_guard<std::mutex> hold(produceLock);
        wanted = sequence < stopAt;
      }
      if (wanted) {
        try {
          consume(item);
        } catch (...) {
          const std::lock_guard<std::mutex> hold(produceLock);
          failAt(sequence);
        }
      }
      ++turn;
      wait.unlock();
      turnChanged.notify_all();
    }
  };

  if (jobs <= 1) {
    worker();
  } else {
    std::vector<std::thread> threads;
    threads.reserve(jobs);
    for (unsigned i = 0; i < jobs; ++i) threads.emplace_back(worker);
    for (std::thread& t : threads) t.join();
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kolvex::cli
