// The C++ side of bench/python_compare.py: each operation that the Python
// module offers, called as a C++ client calls it in a frame loop (the result
// object reused, its storage made by the call), over the same pool of
// 1920x1080 noise frames the Python side uses. Prints one line per operation
// and depth: name, bits, then the milliseconds per call of each repetition.
//   python_peer [REPETITIONS [CALLS]]

#include <kolvex/kolvex.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kPool = 8;  // 8 x 8 MB at 32 bits: more than a last-level cache holds

struct Op {
  const char* name;
  std::function<bool(CRZDIB2& out, CRZDIB2& frame)> call;
};

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::atoi(argv[1]) : 7;
  const int calls = argc > 2 ? std::atoi(argv[2]) : 40;
  const std::vector<Op> ops = {
      {"quarter", [](CRZDIB2& o, CRZDIB2& f) { return o.CreateQuarter(f); }},
      {"eighth", [](CRZDIB2& o, CRZDIB2& f) { return o.CreateEighth(f); }},
      {"scaled 1280x720", [](CRZDIB2& o, CRZDIB2& f) { return o.CreateScaled(f, 1280, 720); }},
      {"mirrored", [](CRZDIB2& o, CRZDIB2& f) { return o.Create(f) && o.Mirror(1, 0, f); }},
      {"field odd", [](CRZDIB2& o, CRZDIB2& f) { return o.CreateInterpolatedFrame(f, 1, 1); }},
      {"brightness", [](CRZDIB2& o, CRZDIB2& f) { return (o = f).AdjustBrightness(100); }},
      {"brightness in place", [](CRZDIB2&, CRZDIB2& f) { return f.AdjustBrightness(128); }},
      {"median", [](CRZDIB2& o, CRZDIB2& f) { return o.Create(f) && o.Median3x3(f); }},
  };
  for (int bits : {24, 32}) {
    std::vector<CRZDIB2> frames(kPool);
    std::mt19937 rng(1);
    for (CRZDIB2& f : frames) {
      if (!f.Create(static_cast<WORD>(bits), kWidth, kHeight, 1)) return 1;
      for (int i = 0; i < f.DIBSize(); ++i) f.GetBytes()[i] = static_cast<BYTE>(rng());
    }
    for (const Op& op : ops) {
      CRZDIB2 out;
      std::printf("%s\t%d", op.name, bits);
      for (int r = 0; r < repetitions; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i) {
          if (!op.call(out, frames[i % kPool])) return 1;
        }
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        std::printf("\t%.4f", took.count() / calls);
      }
      std::printf("\n");
      std::fflush(stdout);
    }
  }
  return 0;
}
