// Drawing onto a client's DC (read back through GetDIBits) and onto the
// desktop: both storages, whole and stretched rectangles, the stretch mode
// left behind, biSize restored, allocation failures.

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

// The whole image at (0, 0), and columns 1..3 of rows 1..2 at twice the size
// at (7, 2); an empty rectangle draws nothing.
TEST_F(Draw, BothStoragesDrawTheWholeImageAndAStretchedPart) {
  for (WORD bits : {8, 24, 32}) {
    for (bool section : {false, true}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, " << (section ? "DIB section" : "plain"));
      kt::CountingDib2 dib;
      Make(dib, bits, section, bits);
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
      EXPECT_EQ(dib.GetRzBmiHeader()->biSize, 144u);
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

// Each call fails cleanly (a memory exception or false, nothing leaked, biSize
// restored) whichever allocation fails.
TEST_F(Draw, EveryAllocationFailingInTurn) {
  kt::CountingDib2 grey;
  Make(grey, 8, false, 12);
  kt::CountingDib2 alpha;
  Make(alpha, 32, false, 13);
  kt::ClientDc out(7, 5);
  const std::function<bool()> calls[] = {[&] { return grey.Draw(out.cdc, nullptr); },
                                         [&] { return grey.DrawToDesktop(0, 0, 0, 0); },
                                         [&] { return alpha.DrawDIBsAlphaToDesktop(0, 0, 0, 0); }};
  for (const auto& call : calls) {
    kt::FailEachAllocationInTurn(
        [&] {
          bool drawn = false;
          kt::Throws<CMemoryException>([&] { drawn = call(); });
          return drawn;
        },
        [&](int, bool) { EXPECT_EQ(grey.GetRzBmiHeader()->biSize, 144u); });
  }
}

}  // namespace
