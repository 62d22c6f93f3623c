// CreateFromDC and CreateFromDesktop on a small virtual screen (on Windows, the
// real one): areas, the default area, state after failure, and every temporary
// GDI object released.

#include "io_support.h"

namespace {

using Capture = kt::SmallScreen;

TEST_F(Capture, CreateFromDCTakesTheAreaAsA24BitBitmapOrFailsWithoutChange) {
  CRZDIB2 picture;
  kt::ClientDc surface(40, 30);
  ASSERT_TRUE(kt::CreateRandom(picture, 32, 40, 30, 1, 5) && picture.Draw(surface.cdc, nullptr));
  const HDC dc = surface.cdc.GetSafeHdc();
  kt::CountingDib2 dib;
  RECT area{10, 20, 35, 27};
  ASSERT_TRUE(dib.CreateFromDC(dc, &area));
  EXPECT_EQ(dib.DIBBitCount(), 24);
  EXPECT_EQ(dib.DIBWidth(), 25);
  EXPECT_EQ(dib.DIBHeight(), 7);
  EXPECT_TRUE(dib.IsNonInterlaced());
  EXPECT_EQ(dib.GetRzBmiHeader()->biSize, 144u);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 25; ++x) {
      ASSERT_EQ(kt::Shown(dib, x, y), kt::Shown(picture, x + 10, y + 20)) << x << ", " << y;
    }
  }
  // No area: the size of the screen, whatever the DC.
  ASSERT_TRUE(dib.CreateFromDC(dc, nullptr));
  EXPECT_EQ(dib.DIBWidth(), GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(dib.DIBHeight(), GetSystemMetrics(SM_CYSCREEN));

  // Failures before the grab leave the bitmap as it was.
  kt::FillRandom(dib, 6);
  const std::vector<BYTE> before = kt::Pixels(dib);
  for (RECT bad : {RECT{10, 20, 10, 70}, RECT{10, 20, 30, 10}}) EXPECT_FALSE(dib.CreateFromDC(dc, &bad));
  EXPECT_FALSE(dib.CreateFromDC(nullptr, &area));
  EXPECT_EQ(dib.DIBWidth(), GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(kt::Pixels(dib), before);
}

// What DrawToDesktop (natural size, stretched) and DrawDIBsAlphaToDesktop (the
// alpha channel as grey, at the origin when no size is given) put on the
// desktop; the bitmap stays as it was.
TEST_F(Capture, CreateFromDesktopReadsWhatIsDrawnThere) {
  for (WORD bits : {8, 24, 32}) {
    SCOPED_TRACE(testing::Message() << bits << " bits");
    kt::CountingDib2 src;
    ASSERT_TRUE(kt::CreateRandom(src, bits, 7, 5, 1, bits));
    const std::vector<BYTE> pixels = kt::Pixels(src);
    ASSERT_TRUE(src.DrawToDesktop(10, 20, 0, 0));
    ASSERT_TRUE(src.DrawToDesktop(20, 0, 34, 5));
    ASSERT_EQ(src.DrawDIBsAlphaToDesktop(30, 30, 0, 0), bits == 32);
    EXPECT_EQ(kt::Pixels(src), pixels);
    EXPECT_EQ(src.GetRzBmiHeader()->biSize, 144u);
    kt::CountingDib2 grab;
    ASSERT_TRUE(grab.CreateFromDesktop(nullptr));
    ASSERT_EQ(grab.DIBWidth(), GetSystemMetrics(SM_CXSCREEN));
    ASSERT_EQ(grab.DIBHeight(), GetSystemMetrics(SM_CYSCREEN));
    for (int i = 0; i < 7 * 5; ++i) {
      const int x = i % 7, y = i / 7;
      ASSERT_EQ(kt::Shown(grab, x + 10, y + 20), kt::Shown(src, x, y)) << x << ", " << y;
      ASSERT_EQ(kt::Shown(grab, 2 * x + 21, y), kt::Shown(src, x, y)) << x << ", " << y;
      if (bits == 32) {
        const BYTE alpha = src.GetBytes()[(4 - y) * 28 + 4 * x + 3];
        ASSERT_EQ(kt::Shown(grab, x, y), alpha * 0x010101u) << x << ", " << y;
      }
    }
  }
  EXPECT_FALSE(CRZDIB2().DrawToDesktop(0, 0, 0, 0));
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
