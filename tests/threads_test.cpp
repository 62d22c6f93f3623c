// Operations split over the helper threads: the same bytes at every thread
// count, with several callers at once, when helpers cannot be had, and in a
// child made by fork() (for the tsan preset).

#include "io_support.h"

#include <array>
#include <functional>
#include <string>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using Bytes = std::vector<BYTE>;
using Threads = kt::NoLeaks;

// Puts the thread count back at the end of a test.
struct ThreadCount {
  explicit ThreadCount(int n) { kolvex::SetThreads(n); }
  ~ThreadCount() { kolvex::SetThreads(0); }
};

// Splits every image of two rows or more for one scope.
struct SplitAll {
  SplitAll() { kolvex::testing::SetSplitBytes(0); }
  ~SplitAll() { kolvex::testing::SetSplitBytes(-1); }
};

// An operation from a source frame into a result (or on the result in place),
// answering the result's pixels, or nothing when it failed.
using Op = std::function<bool(CRZDIB2& out, const CRZDIB2& src)>;

struct Named {
  const char* name;
  Op op;
};

// Every operation that splits its rows, from frames of odd heights above the
// size where splitting starts.
const Named kOps[] = {
    {"CreateQuarter", [](CRZDIB2& d, const CRZDIB2& s) { return d.CreateQuarter(s); }},
    {"CreateEighth", [](CRZDIB2& d, const CRZDIB2& s) { return d.CreateEighth(s); }},
    {"CreateScaled",
     [](CRZDIB2& d, const CRZDIB2& s) {
       return d.CreateScaled(s, s.DIBWidth() * 2 / 3 + 1, s.DIBHeight() * 2 / 3 + 1, 1);
     }},
    {"CreateScaled up",
     [](CRZDIB2& d, const CRZDIB2& s) {
       return d.CreateScaled(s, s.DIBWidth() * 3 / 2 + 1, s.DIBHeight() * 3 / 2 + 1);
     }},
    {"Create+Mirror",
     [](CRZDIB2& d, const CRZDIB2& s) { return d.Create(s) && d.Mirror(1, 1, s); }},
    {"Create+Mirror vertical",
     [](CRZDIB2& d, const CRZDIB2& s) { return d.Create(s) && d.Mirror(0, 1, s); }},
    {"CreateInterpolatedFrame",
     [](CRZDIB2& d, const CRZDIB2& s) { return d.CreateInterpolatedFrame(s, 1, 1); }},
    {"CreateInterpolatedFrame doubled",
     [](CRZDIB2& d, const CRZDIB2& s) { return d.CreateInterpolatedFrame(s, 0, 0); }},
    {"Create+CopyField",
     [](CRZDIB2& d, const CRZDIB2& s) { return d.Create(s) && d.CopyField(s, 1); }},
    {"copy-before-write",
     [](CRZDIB2& d, const CRZDIB2& s) {
       return d = s, d.SetInterlacedFlag(1), d.GetBytes() != s.GetBytes();
     }},
    {"ClearDIB(UINT)",
     [](CRZDIB2& d, const CRZDIB2& s) { return d.AssignCopy(s), d.ClearDIB(0x11223344u), true; }},
    {"ClearDIB(int)",
     [](CRZDIB2& d, const CRZDIB2& s) { return d.AssignCopy(s), d.ClearDIB(0x5A), true; }},
    {"AdjustBrightness",
     [](CRZDIB2& d, const CRZDIB2& s) { return d.AssignCopy(s), d.AdjustBrightness(90); }},
    {"Median3x3", [](CRZDIB2& d, const CRZDIB2& s) { return d.Create(s) && d.Median3x3(s); }},
};

// Source frames: 24 bits with row padding, 32 bits, 8 bits (the operations
// that take it), all of odd heights.
struct Frame {
  WORD bits;
  int width;
  int height;
  DWORD flag;
};
constexpr Frame kFrames[] = {{24, 403, 517, 1}, {32, 360, 401, 0}, {8, 1001, 333, 1}};

Bytes Result(const Named& op, const CRZDIB2& src) {
  CRZDIB2 out;
  if (!op.op(out, src)) return {};
  return kt::Pixels(out);
}

// The results of every operation at 1, 2, 3, 5 and the default count of threads.
void ExpectTheSameAtEveryCount(const CRZDIB2& src, const std::string& frame) {
  for (const Named& op : kOps) {
    std::vector<Bytes> results;
    for (int n : {1, 2, 3, 5, 0}) {
      const ThreadCount count(n);
      results.push_back(Result(op, src));
    }
    // The operations that refuse 8-bit images refuse them at every count.
    for (std::size_t i = 1; i < results.size(); ++i) {
      EXPECT_TRUE(results[i] == results[0]) << op.name << " of " << frame << ", count " << i;
    }
  }
}

TEST_F(Threads, EveryThreadCountGivesTheBytesOfOne) {
  for (const Frame& f : kFrames) {
    CRZDIB2 src;
    ASSERT_TRUE(kt::CreateRandom(src, f.bits, f.width, f.height, f.flag, f.height));
    ExpectTheSameAtEveryCount(src, std::to_string(f.bits) + " bits");
  }
  // Small images of any shape, split however few their rows.
  const SplitAll split;
  kt::RandomSizes random(29);
  for (int i = 0; i < 40; ++i) {
    const WORD bits = std::array<WORD, 3>{8, 24, 32}[random.Between(0, 2)];
    const int w = random.Between(1, 40);
    const int h = random.Between(1, 45);
    CRZDIB2 src;
    ASSERT_TRUE(kt::CreateRandom(src, bits, w, h, random.Between(0, 1), random.Seed()));
    ExpectTheSameAtEveryCount(
        src, std::to_string(bits) + " bits " + std::to_string(w) + "x" + std::to_string(h));
  }
}

// Callers at once share the helpers; where none is free they work alone.
TEST_F(Threads, CallersAtOnceGetTheirOwnBytes) {
  const ThreadCount count(3);
  CRZDIB2 src;
  ASSERT_TRUE(kt::CreateRandom(src, 32, 360, 401, 1, 5));
  std::vector<Bytes> expected;
  for (const Named& op : kOps) expected.push_back(Result(op, src));
  kt::RunThreads(4, [&](int t) {
    for (int round = 0; round < 3; ++round) {
      for (std::size_t i = static_cast<std::size_t>(t) % 2; i < std::size(kOps); i += 2) {
        EXPECT_TRUE(Result(kOps[i], src) == expected[i]) << kOps[i].name << " on thread " << t;
      }
    }
  });
}

// With helpers refused (the injected failure reaches them once the result's
// storage is made), the calling thread does all the work.
TEST_F(Threads, WithoutHelpersTheCallerDoesItAll) {
  const ThreadCount count(4);
  CRZDIB2 src;
  ASSERT_TRUE(kt::CreateRandom(src, 24, 403, 517, 1, 8));
  for (const Named& op : kOps) {
    const Bytes expected = Result(op, src);
    CRZDIB2 out;
    const auto call = [&] {
      try {
        return op.op(out, src);
      } catch (CMemoryException* e) {  // a copy before a write lets it through
        e->Delete();
        return false;
      }
    };
    kt::FailEachAllocationInTurn(call, [&](int n, bool ok) {
      EXPECT_TRUE(!ok || kt::Pixels(out) == expected) << op.name << n;
    });
  }
}

// A child made by fork() while the parent's helpers exist makes its own, and
// exits through the library's teardown (which joins them) without hanging.
TEST_F(Threads, AChildOfForkSplitsItsOwnOperationsAndExits) {
#if defined(_WIN32)
  GTEST_SKIP() << "no fork() on Windows";
#elif defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer does not follow threads started after fork()";
#elif defined(__SANITIZE_ADDRESS__)
  // GCC 12's AddressSanitizer takes no lock around fork(): a helper freeing
  // its share of the last job at that instant leaves the allocator's lock
  // held in the child, whose first allocation then waits for good.
  GTEST_SKIP() << "AddressSanitizer's allocator is not kept consistent across fork()";
#else
  const ThreadCount count(3);
  CRZDIB2 src;
  ASSERT_TRUE(kt::CreateRandom(src, 32, 360, 401, 1, 3));
  const Bytes expected = Result(kOps[0], src);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(30);  // a hang ends the child by SIGALRM
    std::exit(Result(kOps[0], src) == expected ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(Result(kOps[0], src) == expected);  // the parent's helpers are untouched
#endif
}

}  // namespace
