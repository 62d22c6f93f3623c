// The real screen: capture and drawing of whole 1920x1080 frames on the X
// display that DISPLAY names (bench/screen_compare starts an Xvfb display for
// it and runs ffmpeg's x11grab on the same display), with a memcpy of the
// frame as the baseline. "frames/s" is the rate of whole frames.
//   - CreateFromDesktop: what a client calls, a new 24-bit bitmap per frame
//     (so it includes making and faulting in the bitmap's fresh pages);
//   - BitBltToSection: the screen into a 32-bit DIB section made once, the
//     way a client grabbing video frames reuses one buffer: top-down (which
//     the display fills in place when it shares memory) and bottom-up (rows
//     copied through the staging memory);
//   - DrawToDesktop: a 32-bit (and 24-bit) bottom-up frame at natural size.

#include "frames.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

using kolvex_bench::Frame;
using kolvex_bench::FrameOf;

void CountFrames(benchmark::State& state) {
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The screen must be the frame's size, so that every call moves whole frames.
bool ScreenFits(benchmark::State& state, const Frame& f) {
  if (GetSystemMetrics(SM_CXSCREEN) == f.width && GetSystemMetrics(SM_CYSCREEN) == f.height) {
    return true;
  }
  state.SkipWithError("the screen is not the frame's size");
  return false;
}

void CreateFromDesktop(benchmark::State& state) {
  const Frame f = FrameOf(state);
  if (!ScreenFits(state, f)) return;
  CRZDIB2 frame;
  for (auto _ : state) {
    if (!frame.CreateFromDesktop(nullptr)) {
      state.SkipWithError("capture failed");
      break;
    }
    benchmark::DoNotOptimize(frame.GetBytes());
  }
  CountFrames(state);
}

void BitBltToSection(benchmark::State& state, bool topDown) {
  const Frame f = FrameOf(state);
  if (!ScreenFits(state, f)) return;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER),
                    f.width,
                    topDown ? -f.height : f.height,
                    1,
                    f.bits,
                    BI_RGB,
                    0,
                    0,
                    0,
                    0,
                    0};
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, section);
  for (auto _ : state) {
    if (!BitBlt(memory, 0, 0, f.width, f.height, screen, 0, 0, SRCCOPY)) {
      state.SkipWithError("BitBlt failed");
      break;
    }
    benchmark::DoNotOptimize(bits);
  }
  SelectObject(memory, previous);
  DeleteObject(section);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  CountFrames(state);
}

void DrawToDesktop(benchmark::State& state) {
  const Frame f = FrameOf(state);
  if (!ScreenFits(state, f)) return;
  CRZDIB2 frame;
  if (!kolvex_bench::MakeNoise(frame, f, 1)) {
    state.SkipWithError("out of memory");
    return;
  }
  for (auto _ : state) {
    if (!frame.DrawToDesktop(0, 0, 0, 0)) {
      state.SkipWithError("drawing failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.Bytes()));
  CountFrames(state);
}

void Memcpy(benchmark::State& state) {
  kolvex_bench::MemcpyBaseline(state);
  CountFrames(state);
}

void Frames(benchmark::internal::Benchmark* b, std::initializer_list<int> depths) {
  for (int bits : depths) b->Args({1920, 1080, bits});
  b->ArgNames({"w", "h", "bits"})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(CreateFromDesktop)->Apply([](auto* b) { Frames(b, {24}); });
BENCHMARK_CAPTURE(BitBltToSection, top_down, true)->Apply([](auto* b) { Frames(b, {32}); });
BENCHMARK_CAPTURE(BitBltToSection, bottom_up, false)->Apply([](auto* b) { Frames(b, {32}); });
BENCHMARK(DrawToDesktop)->Apply([](auto* b) { Frames(b, {32, 24}); });
BENCHMARK(Memcpy)->Apply([](auto* b) { Frames(b, {32}); });

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string why;
  if (!kolvex::platform::UseDisplay(nullptr, &why)) {
    std::fprintf(stderr, "screen_bench: %s\n", why.c_str());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
