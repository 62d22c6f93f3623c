// The Linux stand-in on its own: blits against the documented sampling rule
// and handle lifetimes (the rest, its resources and its lock too, is checked
// through the library's resources, drawing and capture).

#include "test_support.h"

#include <algorithm>
#include <cstring>

namespace {

using kt::Pixels32;

// Every test must release every GDI object it made.
using Platform = kt::NoLeaks;

using Section = kt::DibSection;

// The documented rule along one axis: destination coordinate c, at index i
// inside the extent (counted from the origin, backwards for a negative
// extent), samples source index floor((2i+1)*S/(2D)); -1 outside the extent.
long long Sample(long long c, long long dOrigin, long long dExt, long long sOrigin,
                 long long sExt) {
  const long long i = dExt > 0 ? c - dOrigin : dOrigin - 1 - c;
  if (dExt == 0 || sExt == 0 || i < 0 || i >= std::llabs(dExt)) return -1;
  const long long j = (2 * i + 1) * std::llabs(sExt) / (2 * std::llabs(dExt));
  return sExt > 0 ? sOrigin + j : sOrigin - 1 - j;
}

// A top-down DIB section as 0xAARRGGBB words: indexed ones show the grey ramp,
// 16 bits are 5-5-5 (widened by repeating bits), only 32 bits have alpha.
Pixels32 Decode(const Section& s, WORD bits, int w, int h) {
  Pixels32 out;
  for (int i = 0; i < w * h; ++i) {
    const BYTE* row = s.bits + i / w * kt::Stride(bits, w);
    const int x = i % w;
    const unsigned v = bits == 16 ? row[2 * x] | row[2 * x + 1] << 8 : 0;
    const auto wide = [&](int at) { return (v >> at & 31) << 3 | (v >> at & 31) >> 2; };
    const BYTE* p = row + x * bits / 8;
    out.push_back(bits == 1    ? (row[x / 8] >> (7 - x % 8) & 1) * 0xFFFFFFu
                  : bits == 4  ? (row[x / 2] >> (x % 2 ? 0 : 4) & 15) * 0x111111u
                  : bits == 8  ? row[x] * 0x010101u
                  : bits == 16 ? wide(0) | wide(5) << 8 | wide(10) << 16
                               : p[0] | p[1] << 8 | p[2] << 16 |
                                     (bits == 32 ? std::uint32_t{p[3]} << 24 : 0));
  }
  return out;
}

// Blits from every depth into 8, 24 and 32 bits, mirrored, clipped and (one
// in three at random) stretched; equal extents copy runs, and source widths meet
// every remainder of their four-pixel steps.
TEST_F(Platform, BlitsFromEveryDepthMatchTheReference) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> origin(-4, 12), extent(-15, 15);
  const WORD from[] = {1, 4, 8, 16, 24, 32}, to[] = {8, 24, 32};
  for (int round = 0; round < 900; ++round) {
    const WORD sb = from[round % 6], db = to[round / 6 % 3];
    const int sw = 5 + round / 18 % 8, sh = 4, dw = 13, dh = 5, w = extent(rng), h = extent(rng);
    Section src(sw, -sh, sb), dst(dw, -dh, db);
    std::generate_n(src.bits, kt::Stride(sb, sw) * sh, rng);
    std::generate_n(dst.bits, kt::Stride(db, dw) * dh, rng);
    const std::vector<BYTE> before(dst.bits, dst.bits + kt::Stride(db, dw) * dh);
    Pixels32 expected = Decode(dst, db, dw, dh), drawn = Decode(src, sb, sw, sh);
    for (std::uint32_t& c : drawn) {
      const std::uint32_t grey =
          ((c & 0xFF) + (c >> 8 & 0xFF) + (c >> 16 & 0xFF) + 1) / 3 * 0x010101u;
      c = db == 8 ? grey : db == 24 ? c & 0xFFFFFF : c;
    }
    const bool stretch = rng() % 3 == 0;
    const int d[4] = {origin(rng), origin(rng), w, h};
    const int s[4] = {origin(rng), origin(rng), stretch ? extent(rng) : w,
                      stretch ? extent(rng) : h};
    for (int i = 0; i < dw * dh; ++i) {
      const long long sx = Sample(i % dw, d[0], d[2], s[0], s[2]),
                      sy = Sample(i / dw, d[1], d[3], s[1], s[3]);
      if (sx >= 0 && sx < sw && sy >= 0 && sy < sh) expected[i] = drawn[sy * sw + sx];
    }
    ASSERT_TRUE(stretch
                    ? StretchBlt(dst.dc, d[0], d[1], w, h, src.dc, s[0], s[1], s[2], s[3], SRCCOPY)
                    : BitBlt(dst.dc, d[0], d[1], w, h, src.dc, s[0], s[1], SRCCOPY));
    DIBSECTION ds{};
    ASSERT_EQ(GetObjectA(dst.bm, sizeof ds, &ds), static_cast<int>(sizeof ds));
    ASSERT_EQ(ds.dsBm.bmBits, dst.bits);  // written in place
    ASSERT_EQ(Decode(dst, db, dw, dh), expected)
        << sb << " to " << db << " bits, round " << round << ": dst " << d[0] << "," << d[1] << " "
        << w << "x" << h << " src " << s[0] << "," << s[1] << " " << s[2] << "x" << s[3];
    for (int i = dw * db / 8; i < kt::Stride(db, dw) * dh; i += kt::Stride(db, dw)) {
      ASSERT_EQ(std::memcmp(dst.bits + i, &before[i], kt::Stride(db, dw) - dw * db / 8), 0)
          << "padding, round " << round;
    }
  }
}

// Unscaled runs between 24 and 32 bits (every capture and drawing of whole
// frames) at every kernel level, widths meeting every tail of the vector
// steps, at odd offsets: B, G, R copied (a 32-bit pixel's fourth byte 0), every
// other byte left.
TEST_F(Platform, RunsBetween24And32BitsCopyTheColoursAtEveryLevel) {
  std::mt19937 rng(5);
  for (int level = 0; level <= static_cast<int>(kolvex::testing::BestKernelLevel()); ++level) {
    ASSERT_TRUE(kolvex::testing::SetKernelLevel(static_cast<kolvex::testing::KernelLevel>(level)));
    for (int run = 0; run < 140; ++run) {
      const int w = 1 + run / 2, sb = run % 2 ? 24 : 32, db = 56 - sb;
      Section src(w + 1, -1, static_cast<WORD>(sb)), dst(w + 3, -1, static_cast<WORD>(db));
      std::generate_n(src.bits, kt::Stride(sb, w + 1), rng);
      std::generate_n(dst.bits, kt::Stride(db, w + 3), rng);
      std::vector<BYTE> expected(dst.bits, dst.bits + kt::Stride(db, w + 3));
      for (int x = 0; x < w; ++x) {
        std::copy_n(src.bits + (1 + x) * sb / 8, 3, &expected[(2 + x) * db / 8]);
        if (db == 32) expected[(2 + x) * 4 + 3] = 0;
      }
      ASSERT_TRUE(BitBlt(dst.dc, 2, 0, w, 1, src.dc, 1, 0, SRCCOPY));
      ASSERT_TRUE(std::equal(expected.begin(), expected.end(), dst.bits))
          << sb << " to " << db << " bits, " << w << " wide, level " << level;
    }
  }
  kolvex::testing::SetKernelLevel(kolvex::testing::BestKernelLevel());
}

TEST_F(Platform, HandlesFollowSelectionRulesAndDieWithTheirObjects) {
  HDC a = CreateCompatibleDC(nullptr);
  HDC b = CreateCompatibleDC(a);
  HBITMAP bm = CreateCompatibleBitmap(a, 4, 4);
  EXPECT_EQ(kt::GdiObjects(), gdiStart_ + 3);
  const HGDIOBJ stock = SelectObject(a, bm);
  EXPECT_EQ(GetCurrentObject(b, OBJ_BITMAP), stock);  // every memory DC starts with it
  EXPECT_EQ(SelectObject(b, bm), nullptr);            // one DC at a time
  EXPECT_FALSE(DeleteObject(bm));                     // still selected
  EXPECT_EQ(SelectObject(a, stock), bm);              // answers what it displaced
  EXPECT_TRUE(DeleteObject(stock));                   // stock objects survive deletion
  EXPECT_EQ(SelectObject(b, bm), stock);
  EXPECT_TRUE(DeleteDC(b));  // deselects, does not delete, its bitmap
  EXPECT_TRUE(DeleteObject(bm));

  // Deleted handles (even with their slot reused) and forged ones are refused.
  HBITMAP reused = CreateCompatibleBitmap(a, 2, 2);
  int local = 0;
  BITMAP info{};
  for (HGDIOBJ bad : {static_cast<HGDIOBJ>(bm), static_cast<HGDIOBJ>(b),
                      static_cast<HGDIOBJ>(&local), static_cast<HGDIOBJ>(a)}) {
    EXPECT_EQ(SelectObject(a, bad), nullptr);
    EXPECT_FALSE(DeleteObject(bad));
    EXPECT_EQ(GetObjectA(bad, sizeof info, &info), 0);
  }
  EXPECT_FALSE(DeleteDC(b));
  EXPECT_FALSE(BitBlt(b, 0, 0, 1, 1, a, 0, 0, SRCCOPY));
  EXPECT_TRUE(DeleteObject(reused));
  EXPECT_TRUE(DeleteDC(a));
}

}  // namespace
