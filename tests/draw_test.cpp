// Drawing onto a client's DC and the desktop, and capturing them, on a small
// virtual screen (on Windows, the real one).

#include "io_support.h"

#include <functional>

namespace {

using Screen = kt::SmallScreen;

// The whole image at (0, 0), and columns 1..3 of rows 1..2 at twice the size
// at (7, 2); an empty rectangle draws nothing.
TEST_F(Screen, BothStoragesDrawTheWholeImageAndAStretchedPart) {
  for (WORD bits : {8, 24, 32}) {
    for (bool section : {false, true}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, " << (section ? "DIB section" : "plain"));
      kt::CountingDib2 dib;
      BITMAPINFOHEADER format = kt::Info(7, 5, bits).bmiHeader;
      ASSERT_TRUE(section ? dib.CreateDIBSection(&format, 1) : dib.Create(bits, 7, 5, 1));
      kt::FillRandom(dib, bits);
      kt::ClientDc out(14, 10);
      out.cdc.SetStretchBltMode(BLACKONWHITE);
      ASSERT_TRUE(dib.Draw(out.cdc, nullptr));
      EXPECT_EQ(out.cdc.GetStretchBltMode(), BLACKONWHITE);
      EXPECT_TRUE(dib.Draw(out.cdc, CRect(13, 6, 13, 10), CRect(0, 0, 7, 5), nullptr));
      ASSERT_TRUE(dib.Draw(out.cdc, CRect(7, 2, 13, 6), CRect(1, 1, 4, 3), nullptr));
      const kt::Pixels32 seen = out.Read();
      for (int i = 0; i < 14 * 10; ++i) {
        const int x = i % 14, y = i / 14;
        const bool part = x >= 7 && x < 13 && y >= 2 && y < 6;
        ASSERT_EQ(seen[i], x < 7 && y < 5 ? kt::ShownByBlit(dib, x, y)
                           : part         ? kt::ShownByBlit(dib, 1 + (x - 7) / 2, 1 + (y - 2) / 2)
                                          : 0u)
            << x << ", " << y;
      }
      // Only the blit from a DIB section sets the client's mode, and leaves it.
      EXPECT_EQ(out.cdc.GetStretchBltMode(), section ? COLORONCOLOR : BLACKONWHITE);
      EXPECT_EQ(dib.GetRzBmiHeader()->biSize, kt::kHeaderBytes);
    }
  }
  // The shorter overloads go through the virtual table with the whole image.
  struct Recorder : CRZDIB2 {
    using CRZDIB2::Draw;
    bool Draw(CDC&, const CRect& dst, const CRect& src, CPalette*) override {
      return dst == CRect(1, 2, 3, 4) && src == CRect(0, 0, 640, 480);
    }
  } recorder;
  ASSERT_TRUE(recorder.Create(24, 640, 480, 1));
  kt::ClientDc out(1, 1);
  CPalette palette;
  EXPECT_TRUE(recorder.Draw(out.cdc, CRect(1, 2, 3, 4), &palette));
}

TEST_F(Screen, CreateFromDCTakesTheAreaAsA24BitBitmapOrFailsWithoutChange) {
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
  EXPECT_EQ(dib.GetRzBmiHeader()->biSize, kt::kHeaderBytes);
  for (int i = 0; i < 25 * 7; ++i) {
    ASSERT_EQ(kt::Shown(dib, i % 25, i / 25), kt::Shown(picture, i % 25 + 10, i / 25 + 20)) << i;
  }
  // No area: the size of the screen, whatever the DC.
  ASSERT_TRUE(dib.CreateFromDC(dc, nullptr));
  EXPECT_EQ(dib.DIBWidth(), GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(dib.DIBHeight(), GetSystemMetrics(SM_CYSCREEN));

  // Failures before the grab leave the bitmap as it was.
  kt::FillRandom(dib, 6);
  const std::vector<BYTE> before = kt::Pixels(dib);
  for (RECT bad : {RECT{10, 20, 10, 70}, RECT{10, 20, 30, 10}})
    EXPECT_FALSE(dib.CreateFromDC(dc, &bad));
  EXPECT_FALSE(dib.CreateFromDC(nullptr, &area));
  EXPECT_EQ(dib.DIBWidth(), GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(kt::Pixels(dib), before);
}

// What DrawToDesktop (natural size, stretched) and DrawDIBsAlphaToDesktop (the
// alpha channel as grey, at the origin when no size is given) put on the
// desktop; the bitmap stays as it was. 1 and 4-bit pixels show the colour
// table behind the header's first 40 bytes.
TEST_F(Screen, CreateFromDesktopReadsWhatIsDrawnThere) {
  for (WORD bits : {1, 4, 8, 24, 32}) {
    SCOPED_TRACE(testing::Message() << bits << " bits");
    kt::CountingDib2 src;
    ASSERT_TRUE(kt::CreateRandom(src, bits, 7, 5, 1, bits));
    if (bits < 8) kt::FillNoise(reinterpret_cast<BYTE*>(src.GetRzBmiHeader()) + 40, 4 << bits, 9);
    const std::vector<BYTE> pixels = kt::Pixels(src);
    ASSERT_TRUE(src.DrawToDesktop(10, 20, 0, 0));
    ASSERT_TRUE(src.DrawToDesktop(20, 0, 34, 5));
    ASSERT_EQ(src.DrawDIBsAlphaToDesktop(30, 30, 0, 0), bits == 32);
    EXPECT_EQ(kt::Pixels(src), pixels);
    EXPECT_EQ(src.GetRzBmiHeader()->biSize, kt::kHeaderBytes);
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

// Whichever allocation fails: a memory exception or false, nothing leaked,
// biSize restored, and a capture failed before its grab changes nothing.
TEST_F(Screen, EveryAllocationFailingInTurn) {
  kt::CountingDib2 grey, alpha;
  ASSERT_TRUE(kt::CreateRandom(grey, 8, 7, 5, 1, 12) && kt::CreateRandom(alpha, 32, 7, 5, 1, 13));
  const std::vector<BYTE> before = kt::Pixels(alpha);
  kt::ClientDc out(7, 5);
  RECT area{1, 1, 9, 6};
  const std::function<bool()> calls[] = {[&] { return grey.Draw(out.cdc, nullptr); },
                                         [&] { return grey.DrawToDesktop(0, 0, 0, 0); },
                                         [&] { return alpha.DrawDIBsAlphaToDesktop(0, 0, 0, 0); },
                                         [&] { return alpha.CreateFromDesktop(&area); }};
  for (const auto& call : calls) {
    kt::FailEachAllocationInTurn(
        [&] {
          bool done = false;
          kt::Throws<CMemoryException>([&] { done = call(); });
          return done;
        },
        [&](int n, bool done) {
          EXPECT_EQ(grey.GetRzBmiHeader()->biSize, kt::kHeaderBytes);
          if (!done && alpha.IsValidDIB()) {
            EXPECT_EQ(kt::Pixels(alpha), before) << n;
          }
        });
  }
  EXPECT_EQ(alpha.DIBWidth(), 8);
}

}  // namespace
