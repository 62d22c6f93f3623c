// The real screen, whole 1920x1080 frames: what a client pays for capture and
// drawing, beside the floors they are measured against.
//   screen_bench [--seconds S] [--rounds R] [--only NAME,...]
// Every case runs R rounds (default 3) of S seconds (default 1) after one
// call to warm up, the cases taking turns round by round, so that a change in
// the machine's load meets them all. Each case prints one JSON line with its
// milliseconds per frame in every round, for bench/screen_compare.py, which
// starts the display and runs the peers. The program has no Google Benchmark
// in it: it also runs as a Windows program under Wine.
//   - CreateFromDesktop: a new 24-bit bitmap per frame, into one object;
//   - BitBltTopDown / BitBltBottomUp: the screen into a 32-bit DIB section
//     made once, as a client grabbing video frames reuses one buffer;
//   - DrawToDesktop32 / DrawToDesktop24: a bottom-up frame at natural size;
//   - PutImageBound (X displays): the floor of drawing, the server's copy of
//     the 32-bit frame handed to it already converted, in shared memory;
//   - Memcpy: a copy of the 32-bit frame's bytes.

#include "screen_bench_bound.h"

#include <kolvex/kolvex.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Case {
  Case(std::string n, std::function<bool()> f) : name(std::move(n)), frame(std::move(f)) {}
  std::string name;
  std::function<bool()> frame;  // false: the call failed
  std::vector<double> ms;       // per round
  bool failed = false;
};

// A frame of reproducible noise, bottom-up, at `bits`.
bool MakeFrame(CRZDIB2& dib, WORD bits) {
  if (!dib.Create(bits, kWidth, kHeight, 1)) return false;
  std::uint32_t state = 2463534242u;
  BYTE* p = dib.GetBytes();
  for (int i = 0; i < dib.DIBSize(); ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    p[i] = static_cast<BYTE>(state);
  }
  return true;
}

// A DIB section of the screen's size selected into its own DC, grabbed into
// with BitBlt.
class Section {
 public:
  explicit Section(bool topDown) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = topDown ? -kHeight : kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    screen_ = GetDC(nullptr);
    memory_ = CreateCompatibleDC(screen_);
    section_ = CreateDIBSection(memory_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    previous_ = SelectObject(memory_, section_);
  }
  ~Section() {
    SelectObject(memory_, previous_);
    DeleteObject(section_);
    DeleteDC(memory_);
    ReleaseDC(nullptr, screen_);
  }
  Section(const Section&) = delete;
  Section& operator=(const Section&) = delete;
  bool Grab() {
    return section_ != nullptr &&
           BitBlt(memory_, 0, 0, kWidth, kHeight, screen_, 0, 0, SRCCOPY) != FALSE;
  }

 private:
  HDC screen_ = nullptr;
  HDC memory_ = nullptr;
  HBITMAP section_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  void* bits_ = nullptr;
};

// Frames of case c until `seconds` have passed: milliseconds per frame, or a
// negative number when a call failed.
double Round(Case& c, double seconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  long frames = 0;
  double elapsed = 0;
  do {
    if (!c.frame()) return -1;
    ++frames;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);
  return elapsed * 1000 / static_cast<double>(frames);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 1;
  int rounds = 3;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--seconds") {
      seconds = std::atof(argv[i + 1]);
    } else if (option == "--rounds") {
      rounds = std::atoi(argv[i + 1]);
    } else if (option == "--only") {
      only = std::string(",") + argv[i + 1] + ",";
    } else {
      std::fprintf(stderr, "usage: screen_bench [--seconds S] [--rounds R] [--only NAME,...]\n");
      return 2;
    }
  }
  if (GetSystemMetrics(SM_CXSCREEN) != kWidth || GetSystemMetrics(SM_CYSCREEN) != kHeight) {
    std::fprintf(stderr, "screen_bench: the screen is not %dx%d\n", kWidth, kHeight);
    return 1;
  }

  CRZDIB2 grabbed, frame32, frame24;
  if (!MakeFrame(frame32, 32) || !MakeFrame(frame24, 24)) {
    std::fprintf(stderr, "screen_bench: out of memory\n");
    return 1;
  }
  Section topDown(true), bottomUp(false);
  std::vector<BYTE> from(static_cast<std::size_t>(frame32.DIBSize()), 1);
  std::vector<BYTE> to(from.size());
  std::vector<Case> cases;
  cases.emplace_back("CreateFromDesktop", [&] { return grabbed.CreateFromDesktop(nullptr); });
  cases.emplace_back("BitBltTopDown", [&] { return topDown.Grab(); });
  cases.emplace_back("BitBltBottomUp", [&] { return bottomUp.Grab(); });
  cases.emplace_back("DrawToDesktop32", [&] { return frame32.DrawToDesktop(0, 0, 0, 0); });
  cases.emplace_back("DrawToDesktop24", [&] { return frame24.DrawToDesktop(0, 0, 0, 0); });
  if (auto bound = kolvex_bench::PutImageBound(frame32)) {
    cases.emplace_back("PutImageBound", std::move(bound));
  }
  cases.emplace_back("Memcpy", [&] {
    std::memcpy(to.data(), from.data(), from.size());
    return to[from.size() / 2] == 1;
  });
  std::erase_if(cases, [&](const Case& c) {
    return !only.empty() && only.find("," + c.name + ",") == std::string::npos;
  });

  for (int r = 0; r < rounds; ++r) {
    for (Case& c : cases) {
      if (c.failed || (r == 0 && !c.frame())) {
        c.failed = true;
        continue;
      }
      const double ms = Round(c, seconds);
      c.failed = ms < 0;
      c.ms.push_back(ms);
    }
  }
  for (const Case& c : cases) {
    std::printf("{\"name\": \"%s\", \"ms\": [", c.name.c_str());
    for (std::size_t i = 0; !c.failed && i < c.ms.size(); ++i) {
      std::printf("%s%.4f", i > 0 ? ", " : "", c.ms[i]);
    }
    std::printf("]%s}\n", c.failed ? ", \"failed\": true" : "");
  }
  return 0;
}
