// One display connection shared by threads that draw and capture at once:
// each thread's area ends up as it drew it, by its own capture and by import;
// a bitmap that all of them draw keeps its header for the copies made
// meanwhile; whole-screen grabs (through reused shared memory) run beside.

#include "x11_support.h"

TEST(X11Threads, ThreadsDrawAndCaptureTheirOwnAreasThroughOneConnection) {
  const std::string display = kt::x11::FixtureDisplay("shm");
  if (display.empty()) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(kolvex::platform::UseDisplay(display.c_str()));
  constexpr int kThreads = 4, kSide = 40;
  CRZDIB2 shared;
  ASSERT_TRUE(kt::CreateRandom(shared, 24, kSide, kSide, 0, 77));
  shared.ncbwSetAlphaFlag(2);
  const tagRZBMINFOHEADER header = *shared.GetRzBmiHeader();
  std::vector<CRZDIB2> last(kThreads);
  std::atomic<int> failures{0};
  kt::RunThreads(kThreads + 1, [&](int t) {
    if (t == kThreads) {  // whole-screen grabs: the size that takes shared memory
      for (int i = 0; i < 20; ++i) {
        CRZDIB2 grab;
        failures += grab.CreateFromDesktop(nullptr) && grab.DIBWidth() == 640 ? 0 : 1;
      }
      return;
    }
    RECT area{t * kSide, 10, (t + 1) * kSide, 10 + kSide};
    for (int i = 0; i < 20; ++i) {
      CRZDIB2 picture, grab, copy = shared;
      copy.ClearDIB(t);  // a private copy, made while others draw `shared`
      const bool ok =
          shared.DrawToDesktop(area.left, area.top + 2 * kSide, 0, 0) &&
          std::memcmp(copy.GetRzBmiHeader(), &header, sizeof header) == 0 &&
          kt::CreateRandom(picture, i % 2 == 0 ? 24 : 32, kSide, kSide, 1, t * 100 + i) &&
          picture.DrawToDesktop(area.left, area.top, 0, 0) && grab.CreateFromDesktop(&area) &&
          kt::x11::Drawn(grab) == kt::x11::Drawn(picture) && GetSystemMetrics(SM_CXSCREEN) == 640;
      failures += ok ? 0 : 1;
      last[t] = picture;
    }
  });
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(std::memcmp(shared.GetRzBmiHeader(), &header, sizeof header), 0);
  for (int t = 0; t < kThreads && kt::x11::HasImport(); ++t) {
    EXPECT_EQ(kt::x11::Import(display, t * kSide, 10, kSide, kSide), kt::x11::Drawn(last[t])) << t;
  }
  kolvex::platform::SetVirtualScreenSize(1920, 1080);
}
