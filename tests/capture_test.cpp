// CreateFromDC and CreateFromDesktop on a small virtual screen (on Windows, the
// real one): areas, the default area, state after failure, and every temporary
// GDI object released.

#include "io_support.h"

namespace {

using Capture = kt::SmallScreen;

// A 32-bit picture drawn at (0, 0) of a fresh device bitmap.
struct Scene {
  CRZDIB2 picture;
  kt::DeviceBitmap surface{40, 30};
  Scene() {
    EXPECT_TRUE(kt::CreateRandom(picture, 32, 40, 30, 1, 5));
    BITMAPINFOHEADER* h = picture.GetBitmapInfoHeader();
    h->biSize = 40;
    StretchDIBits(surface.dc, 0, 0, 40, 30, 0, 0, 40, 30, picture.GetBytes(),
                  reinterpret_cast<BITMAPINFO*>(h), DIB_RGB_COLORS, SRCCOPY);
    h->biSize = 144;
  }
};

TEST_F(Capture, CreateFromDCTakesTheAreaAsA24BitBitmapOrFailsWithoutChange) {
  const Scene scene;
  kt::CountingDib2 dib;
  RECT area{10, 20, 35, 27};
  ASSERT_TRUE(dib.CreateFromDC(scene.surface.dc, &area));
  EXPECT_EQ(dib.DIBBitCount(), 24);
  EXPECT_EQ(dib.DIBWidth(), 25);
  EXPECT_EQ(dib.DIBHeight(), 7);
  EXPECT_TRUE(dib.IsNonInterlaced());
  EXPECT_EQ(dib.GetRzBmiHeader()->biSize, 144u);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 25; ++x) {
      ASSERT_EQ(kt::Shown(dib, x, y), kt::Shown(scene.picture, x + 10, y + 20)) << x << ", " << y;
    }
  }
  // No area: the size of the screen, whatever the DC.
  ASSERT_TRUE(dib.CreateFromDC(scene.surface.dc, nullptr));
  EXPECT_EQ(dib.DIBWidth(), GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(dib.DIBHeight(), GetSystemMetrics(SM_CYSCREEN));

  // Failures before the grab leave the bitmap as it was.
  kt::FillRandom(dib, 6);
  const std::vector<BYTE> before = kt::Pixels(dib);
  for (RECT bad : {RECT{10, 20, 10, 70}, RECT{10, 20, 30, 10}}) EXPECT_FALSE(dib.CreateFromDC(scene.surface.dc, &bad));
  EXPECT_FALSE(dib.CreateFromDC(nullptr, &area));
  EXPECT_EQ(dib.DIBWidth(), GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(kt::Pixels(dib), before);
}

TEST_F(Capture, DrawToDesktopThenCreateFromDesktopGivesTheSamePixels) {
  for (WORD bits : {8, 24, 32}) {
    SCOPED_TRACE(testing::Message() << bits << " bits");
    CRZDIB2 src;
    ASSERT_TRUE(kt::CreateRandom(src, bits, 7, 5, 1, bits));
    ASSERT_TRUE(src.DrawToDesktop(10, 20, 0, 0));  // empty: natural size at (10, 20)
    kt::CountingDib2 grab;
    ASSERT_TRUE(grab.CreateFromDesktop(nullptr));
    ASSERT_EQ(grab.DIBWidth(), GetSystemMetrics(SM_CXSCREEN));
    ASSERT_EQ(grab.DIBHeight(), GetSystemMetrics(SM_CYSCREEN));
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 7; ++x) ASSERT_EQ(kt::Shown(grab, x + 10, y + 20), kt::Shown(src, x, y));
    }
    ASSERT_TRUE(src.DrawToDesktop(0, 0, 14, 5));  // twice as wide
    RECT area{0, 0, 14, 5};
    ASSERT_TRUE(grab.CreateFromDesktop(&area));
    for (int x = 0; x < 14; ++x) ASSERT_EQ(kt::Shown(grab, x, 2), kt::Shown(src, x / 2, 2));
  }
}

TEST_F(Capture, EveryAllocationFailingInTurnLeavesTheBitmapWholeOrEmpty) {
  kt::CountingDib2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 24, 3, 3, 1, 8));
  const std::vector<BYTE> before = kt::Pixels(dib);
  RECT area{1, 1, 9, 6};
  kt::FailEachAllocationInTurn([&] { return dib.CreateFromDesktop(&area); }, [&](int n, bool captured) {
    if (captured) return;
    if (dib.IsValidDIB()) {
      EXPECT_EQ(kt::Pixels(dib), before) << n;  // failed before the grab: untouched
    } else {
      ASSERT_TRUE(dib.Create(24, 3, 3, 1));  // emptied by the creation: start again
      kt::FillRandom(dib, 8);
    }
  });
  EXPECT_EQ(dib.DIBWidth(), 8);
}

}  // namespace
