// Drawing onto a client's DC (read back through GetDIBits) and onto the
// desktop: both storages, equal and stretched rectangles, the stretch mode
// left behind, the alpha view, biSize restored, allocation failures.

#include "io_support.h"

#include <functional>

namespace {

using Draw = kt::SmallScreen;

// A random 7 x 5 bitmap in plain storage or in a DIB section.
void Make(kt::CountingDib2& dib, WORD bits, bool section, std::uint32_t seed) {
  if (section) {
    BITMAPINFOHEADER h = kt::Info(7, 5, bits).bmiHeader;
    ASSERT_TRUE(dib.CreateDIBSection(&h, 1));
  } else {
    ASSERT_TRUE(dib.Create(bits, 7, 5, 1));
  }
  kt::FillRandom(dib, seed);
}

TEST_F(Draw, BothStoragesDrawTheirPixelsAtNaturalSizeAndStretched) {
  for (WORD bits : {8, 24, 32}) {
    for (bool section : {false, true}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, " << (section ? "DIB section" : "plain"));
      kt::CountingDib2 dib;
      Make(dib, bits, section, bits);
      kt::ClientDc out(14, 10);
      out.cdc.SetStretchBltMode(BLACKONWHITE);

      ASSERT_TRUE(dib.Draw(out.cdc, nullptr));
      const kt::Pixels32 natural = out.Read();
      for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 14; ++x) {
          ASSERT_EQ(natural[y * 14 + x], x < 7 && y < 5 ? kt::ShownByBlit(dib, x, y) : 0u) << x << ", " << y;
        }
      }
      EXPECT_EQ(out.cdc.GetStretchBltMode(), BLACKONWHITE);

      CPalette palette;
      ASSERT_TRUE(dib.Draw(out.cdc, CRect(0, 0, 14, 10), &palette));
      const kt::Pixels32 stretched = out.Read();
      for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 14; ++x) ASSERT_EQ(stretched[y * 14 + x], kt::ShownByBlit(dib, x / 2, y / 2));
      }
      // Only the blit from a DIB section sets the client's mode, and leaves it.
      EXPECT_EQ(out.cdc.GetStretchBltMode(), section ? COLORONCOLOR : BLACKONWHITE);
      EXPECT_EQ(dib.GetRzBmiHeader()->biSize, 144u);
    }
  }
}

TEST_F(Draw, RectanglesReachThePlatformAsGiven) {
  for (bool section : {false, true}) {
    kt::CountingDib2 dib;
    Make(dib, 24, section, 9);
    kt::ClientDc out(8, 6);
    EXPECT_TRUE(dib.Draw(out.cdc, CRect(3, 3, 3, 6), CRect(0, 0, 7, 5), nullptr));  // empty: nothing
    ASSERT_TRUE(dib.Draw(out.cdc, CRect(2, 1, 5, 3), CRect(1, 1, 4, 3), nullptr));
    const kt::Pixels32 seen = out.Read();
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 8; ++x) {
        const bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
        ASSERT_EQ(seen[y * 8 + x], inside ? kt::ShownByBlit(dib, x - 1, y) : 0u) << section << ": " << x << ", " << y;
      }
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
  EXPECT_TRUE(recorder.Draw(out.cdc, CRect(1, 2, 3, 4), nullptr));
}

TEST_F(Draw, TheAlphaViewIsWhiteWhereOpaqueAndBlackWhereTransparent) {
  CRZDIB2 white;
  ASSERT_TRUE(white.Create(24, 64, 48, 1));
  white.ClearDIB(0xFF);
  ASSERT_TRUE(white.DrawToDesktop(0, 0, 0, 0));

  kt::CountingDib2 dib;
  Make(dib, 32, false, 10);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) dib.GetBytes()[(y * 7 + x) * 4 + 3] = x < 3 ? 255 : 0;
  }
  const std::vector<BYTE> pixels = kt::Pixels(dib);
  ASSERT_TRUE(dib.DrawDIBsAlphaToDesktop(30, 30, 0, 0));  // empty: natural size at (0, 0)
  ASSERT_TRUE(dib.DrawDIBsAlphaToDesktop(20, 10, 34, 20));  // twice the size
  EXPECT_EQ(kt::Pixels(dib), pixels);
  EXPECT_EQ(dib.GetRzBmiHeader()->biSize, 144u);

  kt::CountingDib2 screen;
  ASSERT_TRUE(screen.CreateFromDesktop(nullptr));
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) ASSERT_EQ(kt::Shown(screen, x, y), x < 3 ? 0xFFFFFFu : 0u);
  }
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 14; ++x) ASSERT_EQ(kt::Shown(screen, 20 + x, 10 + y), x < 6 ? 0xFFFFFFu : 0u);
  }

  kt::CountingDib2 noAlpha;
  Make(noAlpha, 24, false, 11);
  EXPECT_FALSE(noAlpha.DrawDIBsAlphaToDesktop(0, 0, 0, 0));
  EXPECT_FALSE(CRZDIB2().DrawToDesktop(0, 0, 0, 0));
}

TEST_F(Draw, EveryAllocationFailingInTurn) {
  kt::CountingDib2 grey;
  Make(grey, 8, false, 12);
  kt::CountingDib2 alpha;
  Make(alpha, 32, false, 13);
  kt::ClientDc out(7, 5);
  // Each call's outcome when the n-th allocation (0: the first) fails: the
  // grey description throws, then the DrawDib handle or window DC is missing.
  struct Case {
    const char* name;
    std::function<bool()> call;
    int throwsUpTo;  // n below this throws the memory exception
    int falseUpTo;   // n below this answers false
  };
  const Case cases[] = {
      {"Draw", [&] { return grey.Draw(out.cdc, nullptr); }, 1, 2},
      {"DrawToDesktop", [&] { return grey.DrawToDesktop(0, 0, 0, 0); }, 1, 2},
      {"DrawDIBsAlphaToDesktop", [&] { return alpha.DrawDIBsAlphaToDesktop(0, 0, 0, 0); }, 0, 2},
  };
  for (const Case& c : cases) {
    for (int n = 0; n < 4; ++n) {
      bool result = false;
      const bool threw = kt::Throws<CMemoryException>([&] {
        kt::FailAllocations fail(n);
        result = c.call();
      });
      EXPECT_EQ(threw, n < c.throwsUpTo) << c.name << " " << n;
      if (!threw) {
        EXPECT_EQ(result, n >= c.falseUpTo) << c.name << " " << n;
      }
      EXPECT_EQ(grey.GetRzBmiHeader()->biSize, 144u);
    }
  }
  // A handle lives for one call: the next call needs a new one.
  kt::CountingDib2 colour;
  Make(colour, 24, false, 14);
  ASSERT_TRUE(colour.Draw(out.cdc, nullptr));
  kt::FailAllocations fail(0);
  EXPECT_FALSE(colour.Draw(out.cdc, nullptr));
}

}  // namespace
