// One display connection shared by threads that draw and capture at once:
// each thread's area ends up as it drew it, by its own capture and by import.

#include "x11_support.h"

#include <thread>

namespace {

TEST(X11Threads, ThreadsDrawAndCaptureTheirOwnAreasThroughOneConnection) {
  const std::string display = kt::x11::FixtureDisplay("shm");
  if (display.empty()) GTEST_SKIP() << "Xvfb is not installed";
  std::string why;
  ASSERT_TRUE(kolvex::platform::UseDisplay(display.c_str(), &why)) << why;
  constexpr int kThreads = 4;
  constexpr int kSide = 40;
  std::vector<CRZDIB2> last(kThreads);
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      RECT area{t * kSide, 10, (t + 1) * kSide, 10 + kSide};
      for (int i = 0; i < 20; ++i) {
        CRZDIB2 picture, grab;
        if (!kt::CreateRandom(picture, i % 2 == 0 ? 24 : 32, kSide, kSide, 1, static_cast<std::uint32_t>(t * 100 + i)) ||
            !picture.DrawToDesktop(area.left, area.top, 0, 0) || !grab.CreateFromDesktop(&area) ||
            kt::x11::ShownImage(grab) != kt::x11::ShownImage(picture) || GetSystemMetrics(SM_CXSCREEN) != 640) {
          ++failures;
        }
        last[t] = picture;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  if (kt::x11::HasProgram("import")) {
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_EQ(kt::x11::Import(display, t * kSide, 10, kSide, kSide), kt::x11::ShownImage(last[t])) << t;
    }
  }
  kolvex::platform::SetVirtualScreenSize(1920, 1080);
}

}  // namespace
