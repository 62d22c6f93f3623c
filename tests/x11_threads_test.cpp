// One display connection shared by threads that draw and capture at once:
// each thread's area ends up as it drew it, by its own capture and by import.

#include "x11_support.h"

TEST(X11Threads, ThreadsDrawAndCaptureTheirOwnAreasThroughOneConnection) {
  const std::string display = kt::x11::FixtureDisplay("shm");
  if (display.empty()) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(kolvex::platform::UseDisplay(display.c_str()));
  constexpr int kThreads = 4, kSide = 40;
  std::vector<CRZDIB2> last(kThreads);
  std::atomic<int> failures{0};
  kt::RunThreads(kThreads, [&](int t) {
    RECT area{t * kSide, 10, (t + 1) * kSide, 10 + kSide};
    for (int i = 0; i < 20; ++i) {
      CRZDIB2 picture, grab;
      const bool ok =
          kt::CreateRandom(picture, i % 2 == 0 ? 24 : 32, kSide, kSide, 1, t * 100 + i) &&
          picture.DrawToDesktop(area.left, area.top, 0, 0) && grab.CreateFromDesktop(&area) &&
          kt::x11::Drawn(grab) == kt::x11::Drawn(picture) && GetSystemMetrics(SM_CXSCREEN) == 640;
      failures += ok ? 0 : 1;
      last[t] = picture;
    }
  });
  EXPECT_EQ(failures, 0);
  for (int t = 0; t < kThreads && kt::x11::HasImport(); ++t) {
    EXPECT_EQ(kt::x11::Import(display, t * kSide, 10, kSide, kSide), kt::x11::Drawn(last[t])) << t;
  }
  kolvex::platform::SetVirtualScreenSize(1920, 1080);
}
