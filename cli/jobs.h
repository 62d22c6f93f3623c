// Parallel work in order: items are produced one at a time, processed on
// several threads at once, and consumed in the order they were produced. A
// batch of files and a stream of frames both run on it, so that outputs,
// messages and progress come out as with one thread.
#pragma once

#include "interrupt.h"
#include "options.h"
#include "os.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace kolvex::cli {

// Frames at once at most: each writes at most one temporary file at a time,
// and a second signal removes every one of them.
inline constexpr unsigned kMaxJobs = kPendingSlots;

// The count that `--jobs N` asks for (1 to kMaxJobs), or the number of cores
// (at most kMaxJobs). Throws UsageError.
inline unsigned JobsOption(const Args& args) {
  const std::string* text = args.Value("--jobs");
  if (text == nullptr) return std::min(os::CoreCount(), kMaxJobs);
  const int n = ParseInt(*text);
  if (n < 1) throw UsageError("--jobs " + *text + ": expected a count of at least 1");
  if (static_cast<unsigned>(n) > kMaxJobs) {
    throw UsageError("--jobs " + *text + ": at most " + std::to_string(kMaxJobs) +
                     " frames at once");
  }
  return static_cast<unsigned>(n);
}

// Runs on `jobs` threads (the calling thread alone for 1; otherwise it waits
// for them and takes the signals, which the others leave to it):
//   produce(Item&) -> bool   fills the next item, one call at a time; false ends
//   process(Item&)           on any thread, several at once
//   consume(Item&)           one at a time, in the order of production
// Items in flight are at most `jobs`. An exception from any step ends the
// production: the items before the one that failed are still consumed, those
// after it are not, and that item's exception (the first in production order)
// is rethrown to the caller once every thread has finished.
// When the system cannot start every thread (a limit of processes, threads or
// memory), the run goes on with those that started, after handing `fewer` a
// line that says so; nothing has been produced by then.
template <class Item, class Produce, class Process, class Consume>
void RunOrdered(unsigned jobs, const std::function<void(const std::string& line)>& fewer,
                Produce produce, Process process, Consume consume) {
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

  std::vector<std::thread> threads;
  if (jobs > 1) {
    // The threads wait here for their first item until all have started.
    const std::lock_guard<std::mutex> hold(produceLock);
    char why[128] = "out of memory";  // nothing here may throw once a thread runs
    try {
      threads.reserve(jobs);
      while (threads.size() < jobs) {
        threads.emplace_back([&] {
          // The signal handler runs in the waiting calling thread, which no lock
          // can hold up (a wait of a lock may defer it, under sanitizers).
          os::LeaveInterruptsToOtherThreads();
          worker();
        });
      }
    } catch (const std::system_error& e) {
      std::snprintf(why, sizeof why, "%s", e.what());
    } catch (const std::bad_alloc&) {
    }
    const std::size_t started = std::max<std::size_t>(threads.size(), 1);
    try {
      if (started < jobs) {
        fewer("running " + std::to_string(started) + (started == 1 ? " frame" : " frames") +
              " at once, not " + std::to_string(jobs) + ": no more threads can start (" + why +
              ")");
      }
    } catch (...) {  // the line is lost, the run goes on
    }
  }
  if (threads.empty()) worker();
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kolvex::cli
