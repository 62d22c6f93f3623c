// Transforms and filters: every kernel level on page-guarded random images gives a plain loop's
// bytes; then what the creating calls choose, sharing, aliasing and refusals.

#include "io_support.h"

#include <array>
#include <climits>
#include <functional>
#include <map>
#include <string>
#include <tuple>

namespace {

using kolvex::testing::KernelLevel;
using Pixels = kt::NoLeaks;
using Bytes = std::vector<BYTE>;
using Dib = kt::TestDib2;

const BYTE* PixelAt(const CRZDIBBase2& dib, int x, int y) {
  return dib.GetBytes() + y * kt::Stride(dib.DIBBitCount(), dib.DIBWidth()) +
         x * dib.DIBBitCount() / 8;
}

// `out` (a w x h target's bytes) with byte c of pixel (x, stored row y) set to pixel(x, y, c).
template <class F>
Bytes EveryPixel(Bytes out, int w, int h, int bpp, F pixel) {
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < bpp; ++c) out[y * kt::Stride(8 * bpp, w) + x * bpp + c] = pixel(x, y, c);
    }
  }
  return out;
}

// Rounded mean (sum + n/2) / n over factor x factor blocks (field 0), or the odd
// (1) or even (2) stored rows only: one per quarter row, r and r + 2 per eighth row.
Bytes Reduced(const CRZDIBBase2& src, int factor, int field, Bytes out) {
  const int rows = field == 0 ? factor : factor / 2;
  const int n = rows * factor;
  return EveryPixel(std::move(out), src.DIBWidth() / factor, src.DIBHeight() / factor,
                    src.DIBBitCount() / 8, [&](int x, int y, int c) {
                      int sum = 0;
                      for (int i = 0; i < n; ++i) {
                        const int r = factor * y +
                                      (field == 0 ? i / factor : 2 * (i / factor) + (field == 1));
                        sum += PixelAt(src, factor * x + i % factor, r)[c];
                      }
                      return static_cast<BYTE>((sum + n / 2) / n);
                    });
}

// The source cell holding the centre of cell i of d over s cells; rows of one field (mode 0 or 1).
int Centre(int i, int d, int s) {
  return static_cast<int>((2 * std::int64_t{i} + 1) * s / (2 * std::int64_t{d}));
}
int SourceRow(int y, int d, int s, int rowMode) {
  const int j = Centre(y, d, s);
  if (rowMode < 0) return j;
  return rowMode == 0 ? std::min(j / 2 * 2 + 1, s - 1) : j / 2 * 2;
}

Bytes Scaled(const CRZDIBBase2& src, int w, int h, int rowMode, Bytes out) {
  return EveryPixel(std::move(out), w, h, src.DIBBitCount() / 8, [&](int x, int y, int c) {
    return PixelAt(src, Centre(x, w, src.DIBWidth()), SourceRow(y, h, src.DIBHeight(), rowMode))[c];
  });
}

Bytes Mirrored(const CRZDIBBase2& src, bool horizontal, bool vertical, Bytes out) {
  const int w = src.DIBWidth();
  const int h = src.DIBHeight();
  return EveryPixel(std::move(out), w, h, src.DIBBitCount() / 8, [&](int x, int y, int c) {
    return PixelAt(src, horizontal ? w - 1 - x : x, vertical ? h - 1 - y : y)[c];
  });
}

// Row r of a frame from stored field `field`: whole source rows to copy (one) or average (two).
std::vector<int> FrameSources(int r, int h, int field, bool interpolate) {
  const bool last = r == h - 1;
  if (!interpolate) {
    if (field == 0) return {r - r % 2};
    return {(h % 2 == 1 && last) ? r : r | 1};
  }
  if (r % 2 == field) return {r};
  if (field == 1 && r == 0) return {h == 1 ? 0 : 1};
  if (last) return {r - 1};
  return {r - 1, r + 1};
}

Bytes Framed(const CRZDIBBase2& src, int field, bool interpolate) {
  const int stride = kt::Stride(src.DIBBitCount(), src.DIBWidth());
  Bytes out;
  for (int r = 0; r < src.DIBHeight(); ++r) {
    const std::vector<int> from = FrameSources(r, src.DIBHeight(), field, interpolate);
    for (int i = 0; i < stride; ++i) {
      const int a = src.GetBytes()[from[0] * stride + i];
      out.push_back(static_cast<BYTE>(
          from.size() == 1 ? a : (a + src.GetBytes()[from[1] * stride + i] + 1) / 2));
    }
  }
  return out;
}

// The stored field holding the picture's odd or even field (the top row is stored last).
int StoredField(int height, bool odd) { return (height % 2 == 0) == odd ? 0 : 1; }

// Colour values less clamp(level, 0, 255) - 128, saturated; alpha stays.
Bytes Brightened(int level, int bits, int w, int h, const Bytes& before) {
  const int offset = std::clamp(level, 0, 255) - 128;
  return EveryPixel(before, w, h, bits / 8, [&](int x, int y, int c) {
    const BYTE v = before[y * kt::Stride(bits, w) + x * bits / 8 + c];
    return c == 3 ? v : static_cast<BYTE>(std::clamp(v - offset, 0, 255));
  });
}

// A sort of the nine values; the first and last rows come whole from src.
Bytes Median(const CRZDIBBase2& src, Bytes out) {
  const BYTE* s = src.GetBytes();
  const int bpp = src.DIBBitCount() / 8;
  const int w = src.DIBWidth();
  const int h = src.DIBHeight();
  const int stride = kt::Stride(src.DIBBitCount(), w);
  for (int y = 0; y < h; ++y) {
    const bool border = y == 0 || y == h - 1;
    for (int i = 0; i < (border ? stride : w * bpp); ++i) {
      std::array<BYTE, 9> n{};
      for (int k = 0; k < 9; ++k) n[k] = s[y * stride + i];
      if (!border && i >= bpp && i < (w - 1) * bpp) {
        for (int k = 0; k < 9; ++k) n[k] = s[(y + k / 3 - 1) * stride + i + (k % 3 - 1) * bpp];
      }
      std::sort(n.begin(), n.end());
      out[static_cast<std::size_t>(y * stride + i)] = n[4];
    }
  }
  return out;
}

enum class Guard { After, Before };

// A bitmap on bytes that end where a mapped page ends (After) or begin `shift` bytes after one
// begins.
struct PageGuardedImage {
  PageGuardedImage(WORD bitCount, LONG width, LONG height, Guard guard, std::size_t shift = 0)
      : header(kt::MakeHeader(bitCount, width, height)), guard(guard), shift(shift) {
    const std::size_t size =
        static_cast<std::size_t>(kt::Stride(bitCount, width)) * static_cast<std::size_t>(height);
    const std::size_t page = kt::PageSize();
    mapped = ((size + shift + page - 1) / page + 1) * page;
    base = kt::MapPages(mapped);
    BYTE* fence = guard == Guard::After ? base + mapped - page : base;
    kt::ProtectPage(fence);
    dib.Attach(&header, guard == Guard::After ? fence - size : base + page + shift);
  }
  ~PageGuardedImage() {
    dib.Detach();
    kt::UnmapPages(base, mapped);
  }
  PageGuardedImage(const PageGuardedImage&) = delete;
  PageGuardedImage& operator=(const PageGuardedImage&) = delete;

  tagRZBMINFOHEADER header;
  Guard guard;
  std::size_t shift;
  std::size_t mapped = 0;
  BYTE* base = nullptr;
  Dib dib;
};

using Op = std::function<bool(Dib&, const Dib&)>;
// The bytes op must leave in a target that starts as the given noise; null: the plain level's.
using Oracle = std::function<Bytes(const Bytes&)>;

// One page-guarded source at one kernel level.
struct Case {
  const PageGuardedImage& src;
  KernelLevel level;
  mutable std::map<std::pair<LONG, LONG>, std::unique_ptr<PageGuardedImage>> targets{};

  LONG W() const { return src.header.biWidth; }
  LONG H() const { return src.header.biHeight; }
  const Dib& S() const { return src.dib; }
  std::string Label() const {
    return std::to_string(S().DIBBitCount()) + " bits " + std::to_string(W()) + "x" +
           std::to_string(H()) +
           (src.guard == Guard::After ? " guard after"
                                      : " guard before, shift " + std::to_string(src.shift));
  }

  // op(dst, src) into a w x h target filled with noise, on the same side of its guard.
  void Expect(LONG w, LONG h, const Op& op, const Oracle& oracle, const std::string& what) const {
    if (w <= 0 || h <= 0) return;
    auto& target = targets[{w, h}];
    if (!target)
      target = std::make_unique<PageGuardedImage>(S().DIBBitCount(), w, h, src.guard, src.shift);
    Dib& dst = target->dib;
    kt::FillRandom(dst, 99);
    Bytes want = oracle ? oracle(kt::Pixels(dst)) : Bytes{};
    if (!oracle) {
      kolvex::testing::SetKernelLevel(KernelLevel::Plain);
      EXPECT_TRUE(op(dst, S()));
      want = kt::Pixels(dst);
      kt::FillRandom(dst, 99);
      kolvex::testing::SetKernelLevel(level);
    }
    EXPECT_TRUE(op(dst, S())) << what << " of " << Label();
    EXPECT_TRUE(kt::Pixels(dst) == want) << what << " of " << Label();
  }
};

// Random sources (half of two values: ties) of widths 1..67 (every vector tail at every pixel
// size) and wider, several heights, both guards; with the guard before, rows start at every
// address modulo 4 over the heights (the only way aligning kernels meet rows needing no first
// step). Made once per depth.
const std::vector<std::unique_ptr<PageGuardedImage>>& Sources(WORD bits) {
  static std::map<WORD, std::vector<std::unique_ptr<PageGuardedImage>>> made;
  auto& sources = made[bits];
  if (!sources.empty()) return sources;
  std::vector<int> widths;
  for (int w = 1; w <= 67; ++w) widths.push_back(w);
  for (int w : {96, 131, 257}) widths.push_back(w);
  std::uint32_t seed = bits;
  for (int width : widths) {
    for (int height : {1, 2, 3, 5, 8, 13}) {
      for (Guard guard : {Guard::After, Guard::Before}) {
        const std::size_t shift =
            guard == Guard::Before ? static_cast<std::size_t>(width + height) % 4 : 0;
        auto& src = *sources.emplace_back(
            std::make_unique<PageGuardedImage>(bits, width, height, guard, shift));
        kt::FillRandom(src.dib, ++seed);
        if (seed % 4 < 2) {
          for (int i = 0; i < src.dib.DIBSize(); ++i) src.dib.GetBytes()[i] &= 1;
        }
      }
    }
  }
  return sources;
}

template <int kVertical>
void MirrorCase(const Case& c) {
  c.Expect(
      c.W(), c.H(), [](Dib& d, const Dib& s) { return d.Mirror(1, kVertical, s); },
      [&](const Bytes& b) { return Mirrored(c.S(), true, kVertical, b); }, "mirror");
}

// Quarter (kFactor 2) or eighth of square blocks (kField 0), of field 1 or of field 0 (2).
template <int kFactor, int kField>
void ReductionCase(const Case& c) {
  c.Expect(
      c.W() / kFactor, c.H() / kFactor,
      [](Dib& d, const Dib& s) {
        return kFactor == 2 ? d._GetQuarterDIB(s, kField) : d._GetEighthDIB(s, kField);
      },
      [&](const Bytes& b) { return Reduced(c.S(), kFactor, kField, b); }, "reduction");
}

void FillCase(const Case& c) {
  c.Expect(
      c.W(), c.H(),
      [](Dib& d, const Dib&) {
        d.ClearDIB(static_cast<UINT>(0x80C0FFEEu));
        return true;
      },
      nullptr, "fill");
}

struct Family {
  const char* name;
  std::vector<WORD> depths;
  void (*check)(const Case&);
};

// Mirroring at 24, 32 and 64 bits; the median at 8, 24 and 32; the rest at 24 and 32: brightness
// in place (levels inside and beyond the range), scaling (the same size a whole copy), frames and
// fills (no plain loop: the plain level's bytes).
const Family kFamilies[] = {
    {"Median",
     {8, 24, 32},
     [](const Case& c) {
       c.Expect(
           c.W(), c.H(), [](Dib& d, const Dib& s) { return d.Median3x3(s); },
           [&](const Bytes& b) { return Median(c.S(), b); }, "median");
     }},
    {"MirrorHorizontal", {24, 32, 64}, MirrorCase<0>},
    {"MirrorBoth", {24, 32, 64}, MirrorCase<1>},
    {"Brightness",
     {24, 32},
     [](const Case& c) {
       for (int level : {INT_MIN, -1, 0, 1, 127, 128, 129, 200, 255, 256, INT_MAX}) {
         c.Expect(
             c.W(), c.H(), [level](Dib& d, const Dib&) { return d.AdjustBrightness(level); },
             [&](const Bytes& b) {
               return Brightened(level, c.src.header.biBitCount, c.W(), c.H(), b);
             },
             "brightness " + std::to_string(level));
       }
     }},
    {"QuarterBox", {24, 32}, ReductionCase<2, 0>},
    {"QuarterField1", {24, 32}, ReductionCase<2, 1>},
    {"QuarterField0", {24, 32}, ReductionCase<2, 2>},
    {"EighthBox", {24, 32}, ReductionCase<4, 0>},
    {"EighthField1", {24, 32}, ReductionCase<4, 1>},
    {"EighthField0", {24, 32}, ReductionCase<4, 2>},
    {"Scale",
     {24, 32},
     [](const Case& c) {
       const LONG w = c.W();
       const LONG h = c.H();
       for (auto [tw, th] :
            {std::pair{std::max<LONG>(1, w * 2 / 3), std::max<LONG>(1, h * 2 / 3)},
             std::pair{std::max<LONG>(1, w / 3), h}, std::pair{w * 3 / 2 + 1, h * 3 / 2 + 1},
             std::pair{w + 7, std::max<LONG>(1, h - 1)}}) {
         c.Expect(
             tw, th, [tw = tw, th = th](Dib& d, const Dib& s) { return d.Scale(s, tw, th); },
             [&, tw = tw, th = th](const Bytes& b) {
               return tw == w && th == h ? kt::Pixels(c.S()) : Scaled(c.S(), tw, th, -1, b);
             },
             "scale to " + std::to_string(tw) + "x" + std::to_string(th));
       }
     }},
    {"InterpolatedFrame",
     {24, 32},
     [](const Case& c) {
       for (int odd : {0, 1}) {
         c.Expect(
             c.W(), c.H(),
             [odd](Dib& d, const Dib& s) {
               return odd != 0 ? d._GetOddFrame(s, 0, 1) : d._GetEvenFrame(s, 0, 1);
             },
             [&](const Bytes&) { return Framed(c.S(), StoredField(c.H(), odd != 0), true); },
             "interpolated frame (odd " + std::to_string(odd) + ")");
       }
     }},
    {"Fill", {24, 32}, FillCase},
};

// One family at one depth and one level, on every source.
class KernelMatrix : public testing::Test {
 public:
  KernelMatrix(const Family& family, WORD bits, KernelLevel level)
      : family_(family), bits_(bits), level_(level) {}
  void TestBody() override {
    ASSERT_TRUE(kolvex::testing::SetKernelLevel(level_));
    for (const auto& src : Sources(bits_)) family_.check(Case{*src, level_});
  }
  void TearDown() override { kolvex::testing::SetKernelLevel(kolvex::testing::BestKernelLevel()); }

 private:
  const Family& family_;
  WORD bits_;
  KernelLevel level_;
};

// Kernels/<family>.MatchesPlainLoop/<depth>bit_<level>, at the levels this processor has.
const bool kMatrixRegistered = [] {
  const char* const levels[] = {"Plain", "SSE2", "AVX2", "AVX512"};
  for (const Family& family : kFamilies) {
    for (WORD bits : family.depths) {
      for (int l = 0; l <= static_cast<int>(kolvex::testing::BestKernelLevel()); ++l) {
        const auto level = static_cast<KernelLevel>(l);
        const std::string name = "MatchesPlainLoop/" + std::to_string(bits) + "bit_" + levels[l];
        testing::RegisterTest(("Kernels/" + std::string(family.name)).c_str(), name.c_str(),
                              nullptr, nullptr, __FILE__, __LINE__,
                              [&family, bits, level]() -> testing::Test* {
                                return new KernelMatrix(family, bits, level);
                              });
      }
    }
  }
  return true;
}();

// Unpadded frames of a megabyte or more take the streaming path, from several cache-line offsets.
TEST(Kernels, FillsOfLongRunsMatchThePlainLevel) {
  for (WORD bits : {24, 32}) {
    for (LONG width : {1024, 1032, 1036}) {
      for (Guard guard : {Guard::After, Guard::Before}) {
        PageGuardedImage src(bits, width, 361, guard);
        for (int l = 1; l <= static_cast<int>(kolvex::testing::BestKernelLevel()); ++l) {
          kolvex::testing::SetKernelLevel(static_cast<KernelLevel>(l));
          FillCase(Case{src, static_cast<KernelLevel>(l)});
        }
        kolvex::testing::SetKernelLevel(kolvex::testing::BestKernelLevel());
      }
    }
  }
}

// On random sources of every flag: the creating calls take the field the flag names (bit 0 clear:
// interlaced; reductions take stored field 1, scaling into a progressive result samples field 1
// only, the same size is a copy), the field extras the named picture field of either parity of
// height whatever the flag, in progressive blocks of the target's own hooks. A target that is its
// source reads its former pixels; the source and its sharer are left alone.
TEST_F(Pixels, CreatingCallsTakeTheFieldOfTheFlagOrTheNamedOne) {
  using kolvex::Field;
  kt::RandomSizes random(17);
  for (int i = 0; i < 300; ++i) {
    const WORD bits = random.Between(0, 1) ? 32 : 24;
    // The first round walks one long row: an error that builds up along it shows.
    const int sw = i == 0 ? 1281 : random.Between(1, 29);
    const int sh = random.Between(1, 29);
    const bool sameSize = i % 8 == 1;
    const int w = i == 0 ? 1920 : sameSize ? sw : random.Between(0, 41);
    const int h = sameSize ? sh : random.Between(0, 41);
    const DWORD flag = random.Between(0, 3);
    const DWORD dstFlag = random.Between(0, 1);
    const Field field = random.Between(0, 1) ? Field::Odd : Field::Even;
    Dib src;
    ASSERT_TRUE(kt::CreateRandom(src, bits, sw, sh, flag, random.Seed()));
    SCOPED_TRACE(testing::Message()
                 << bits << " bits " << sw << "x" << sh << " -> " << w << "x" << h << " flags "
                 << flag << dstFlag << (field == Field::Odd ? " odd" : " even"));
    const Dib sharer(src);
    const Bytes before = kt::Pixels(src);
    const int ofFlag = (flag & 1) ? 0 : 1;
    Dib quarter, eighth, dst;
    ASSERT_TRUE(quarter.CreateQuarter(src) && eighth.CreateEighth(src));
    EXPECT_EQ(kt::Pixels(quarter), Reduced(src, 2, ofFlag, kt::Pixels(quarter)));
    EXPECT_EQ(kt::Pixels(eighth), Reduced(src, 4, ofFlag, kt::Pixels(eighth)));
    ASSERT_TRUE(eighth._GetEighthDIB(src, 3 + static_cast<int>(flag)));  // 2 and more: field 0
    EXPECT_EQ(kt::Pixels(eighth), Reduced(src, 4, 2, kt::Pixels(eighth)));
    const int mode = dstFlag && ofFlag == 1 && !(sw == w && sh == h) ? 0 : -1;
    ASSERT_TRUE(dst.CreateScaled(src, w, h, dstFlag));
    EXPECT_EQ(dst.GetInterlacedFlag(), dstFlag);
    EXPECT_EQ(kt::Pixels(dst), Scaled(src, w, h, mode, kt::Pixels(dst)));
    Dib self(src);  // takes the source's own flag (every row)
    ASSERT_TRUE(self.Scale(w, h));
    EXPECT_EQ(kt::Pixels(self), Scaled(src, w, h, -1, kt::Pixels(self)));
    self = src;
    ASSERT_TRUE(self.CreateQuarter(self));
    EXPECT_EQ(kt::RowBytes(self), kt::RowBytes(quarter));

    const bool field1 = StoredField(sh, field == Field::Odd) == 1;
    EXPECT_EQ(kolvex::LibraryField(sh) == field, field1);
    kt::CountingDib2::liveBlocks = 0;
    {
      kt::CountingDib2 quarter, eighth, scaled;
      ASSERT_TRUE(kolvex::CreateQuarterOfField(quarter, src, field) &&
                  kolvex::CreateEighthOfField(eighth, src, field) &&
                  kolvex::CreateScaledFromField(scaled, src, w, h, field));
      EXPECT_EQ(kt::CountingDib2::liveBlocks, 3);
      EXPECT_EQ(std::tuple(quarter.DIBWidth(), quarter.DIBHeight(), eighth.DIBWidth(),
                           eighth.DIBHeight(), scaled.DIBWidth(), scaled.DIBHeight()),
                std::tuple(sw / 2, sh / 2, sw / 4, sh / 4, w, h));
      for (const kt::CountingDib2* made : {&quarter, &eighth, &scaled}) {
        EXPECT_EQ(made->GetInterlacedFlag(), kolvex::kProgressiveFrame);
        EXPECT_EQ(made->DIBBitCount(), bits);
      }
      EXPECT_EQ(kt::Pixels(quarter), Reduced(src, 2, field1 ? 1 : 2, kt::Pixels(quarter)));
      EXPECT_EQ(kt::Pixels(eighth), Reduced(src, 4, field1 ? 1 : 2, kt::Pixels(eighth)));
      EXPECT_EQ(kt::Pixels(scaled), Scaled(src, w, h, field1 ? 0 : 1, kt::Pixels(scaled)));
      self = src;
      ASSERT_TRUE(kolvex::CreateQuarterOfField(self, self, field));
      EXPECT_EQ(kt::RowBytes(self), kt::RowBytes(quarter));
    }
    EXPECT_TRUE(kt::Pixels(src) == before && src.GetInterlacedFlag() == flag &&
                src.Data() == sharer.Data());
  }
}

TEST_F(Pixels, EveryAllocationFailureLeavesAScaledObjectUnchanged) {
  kt::CountingDib dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 32, 8, 8, 1, 6));
  const Bytes before = kt::Pixels(dib);
  CRzDibBaseData2* block = dib.Data();
  kt::FailEachAllocationInTurn([&] { return dib.Scale(5, 3); },
                               [&](int n, bool ok) {
                                 EXPECT_TRUE(dib.ColumnMap() == nullptr && dib.RowMap() == nullptr)
                                     << n;
                                 if (ok) return;
                                 EXPECT_EQ(dib.Data(), block) << n;
                                 EXPECT_EQ(kt::Pixels(dib), before) << n;
                                 EXPECT_EQ(kt::CountingDib::liveBlocks, 1) << n;
                               });
  EXPECT_EQ(dib.DIBWidth(), 5);
  EXPECT_EQ(kt::CountingDib::liveBlocks, 1);  // the new block came through dib's own hooks
}

TEST_F(Pixels, FramesAndFieldCopiesTakeTheFieldOfTheParityAndSwapBit) {
  kt::RandomSizes random(41);
  for (int i = 0; i < 400; ++i) {
    const WORD bits = std::array<WORD, 3>{8, 24, 32}[random.Between(0, 2)];
    const int w = random.Between(1, 13);
    const int h = random.Between(1, 11);
    const int bOdd = random.Between(0, 1) * random.Between(1, 3);
    const int method = random.Between(-1, 2);
    const int nSwap = random.Between(0, 3);  // bit 0 takes the other field
    Dib src;
    ASSERT_TRUE(kt::CreateRandom(src, bits, w, h, 0, random.Seed()));
    SCOPED_TRACE(testing::Message() << bits << " bits " << w << "x" << h << " odd " << bOdd
                                    << " method " << method << " swap " << nSwap);
    const int field = StoredField(h, bOdd != 0);
    Dib dst;
    ASSERT_TRUE(dst.CreateInterpolatedFrame(src, bOdd, method));
    EXPECT_EQ(kt::Pixels(dst), Framed(src, field, method == 1));
    EXPECT_EQ(dst.GetInterlacedFlag(), 1u);
    ASSERT_TRUE(bOdd != 0 ? dst._GetOddFrame(src, nSwap, method)
                          : dst._GetEvenFrame(src, nSwap, method));
    EXPECT_EQ(kt::Pixels(dst), Framed(src, field ^ (nSwap & 1), method == 1));

    kt::FillRandom(dst, random.Seed());  // CopyField replaces that field's rows only
    const Bytes shared = kt::Pixels(dst);
    const Dib sharer(dst);  // and writes a block of its own
    Bytes expected = shared;
    const int stride = kt::Stride(bits, w);
    for (int r = field; r < h; r += 2)
      std::copy_n(src.GetBytes() + r * stride, stride, expected.begin() + r * stride);
    ASSERT_TRUE(dst.CopyField(src, bOdd));
    EXPECT_EQ(kt::Pixels(dst), expected);
    EXPECT_EQ(kt::Pixels(sharer), shared);

    expected = Framed(src, field, method == 1);
    ASSERT_TRUE(src.CreateInterpolatedFrame(src, bOdd, method));  // reads its former rows
    EXPECT_EQ(kt::Pixels(src), expected);
  }
}

// A client class asked whether packed code may run: it counts the questions.
class AskedDib : public Dib {
 public:
  explicit AskedDib(bool answer) : answer_(answer) {}
  int asked = 0;

 protected:
  bool _UseMMXInstructions() override {
    ++asked;
    return answer_;
  }

 private:
  bool answer_;
};

// Only the interpolating frame workers ask, once per call, and the bytes are
// the same whatever the answer.
TEST_F(Pixels, OnlyInterpolatedFramesAskForPackedCodeOncePerCall) {
  Dib src;
  ASSERT_TRUE(kt::CreateRandom(src, 24, 13, 9, 0, 4));
  for (bool answer : {false, true}) {
    AskedDib d(answer);
    ASSERT_TRUE(d.CreateInterpolatedFrame(src, 1, 1));
    EXPECT_EQ(d.asked, 1);
    EXPECT_EQ(kt::Pixels(d), Framed(src, StoredField(9, true), true));
    ASSERT_TRUE(d._GetEvenFrame(src, 0, 1) && d._GetOddFrame(src, 1, 1));
    EXPECT_EQ(d.asked, 3);
    ASSERT_TRUE(d.CreateInterpolatedFrame(src, 1, 0) && d.CopyField(src, 1) &&
                d.CreateQuarter(src) && d.CreateEighth(src) && d.CreateScaled(src, 7, 5) &&
                d.Create(src) && d.Mirror(1, 1, src) && d.Median3x3(src) && d.AdjustBrightness(3));
    d.ClearDIB(1u);
    EXPECT_EQ(d.asked, 3) << answer;
  }
}

// The field extras refuse, with the target unchanged, an empty source, other depths and negative
// sizes; out of memory they leave it empty.
TEST_F(Pixels, FieldExtrasRefuseOrFailCleanly) {
  using kolvex::Field;
  Dib src;
  Dib dst;
  ASSERT_TRUE(kt::CreateRandom(dst, 24, 3, 3, 1, 2));
  const CRzDibData2* block = dst.Data();
  for (WORD bits : {8, 16, 64}) {
    ASSERT_TRUE(kt::CreateRandom(src, bits, 8, 8, kolvex::kInterlacedFrame, bits));
    EXPECT_FALSE(kolvex::CreateQuarterOfField(dst, src, Field::Even) ||
                 kolvex::CreateEighthOfField(dst, src, Field::Odd) ||
                 kolvex::CreateScaledFromField(dst, src, 4, 4, Field::Odd));
  }
  ASSERT_TRUE(kt::CreateRandom(src, 32, 8, 8, kolvex::kInterlacedFrame, 3));
  EXPECT_FALSE(kolvex::CreateQuarterOfField(dst, Dib(), Field::Odd) ||
               kolvex::CreateScaledFromField(dst, src, -1, 4, Field::Even) ||
               kolvex::CreateScaledFromField(dst, src, 4, -1, Field::Even));
  EXPECT_EQ(dst.Data(), block);
  // Out of memory, at the new block or at the scaling tables, leaves the target empty.
  kt::FailEachAllocationInTurn(
      [&] { return kolvex::CreateScaledFromField(dst, src, 9, 5, Field::Odd); },
      [&](int n, bool ok) { EXPECT_TRUE(ok || dst.IsNilBlock()) << n; });
  EXPECT_EQ(kt::Pixels(dst), Scaled(src, 9, 5, 1, kt::Pixels(dst)));
}

// A sharer of the source gets a block of its own; a source on the target's pixels (itself, or
// another object on one caller's buffer) is read before it is written. Any non-zero value flips.
TEST_F(Pixels, SharersAndSourcesOnTheSamePixels) {
  Dib a;
  ASSERT_TRUE(kt::CreateRandom(a, 32, 7, 5, 1, 3));
  const Bytes before = kt::Pixels(a);
  Dib b(a);
  ASSERT_TRUE(b.Mirror(-1, 7, a));
  EXPECT_EQ(kt::Pixels(b), Mirrored(a, true, true, before));
  b = a;
  ASSERT_TRUE(b.Median3x3(a));
  EXPECT_EQ(kt::Pixels(b), Median(a, before));
  b = a;
  ASSERT_TRUE(b.AdjustBrightness(200));
  EXPECT_EQ(kt::Pixels(b), Brightened(200, 32, 7, 5, before));
  EXPECT_EQ(kt::Pixels(a), before);
  b.AssignCopy(a);
  ASSERT_TRUE(a.Mirror(1, 0, a));  // the target itself
  EXPECT_EQ(kt::Pixels(a), Mirrored(b, true, false, before));
  kt::GuardedImage image(24, 5, 6);
  Dib x(&image.header, image.Bits());
  Dib y(&image.header, image.Bits());
  kt::FillRandom(x, 5);
  b.AssignCopy(y);
  ASSERT_TRUE(x.Mirror(0, 1, y));
  EXPECT_EQ(kt::Pixels(x), Mirrored(b, false, true, kt::Pixels(b)));
  b.AssignCopy(y);
  ASSERT_TRUE(x.Median3x3(y));
  EXPECT_EQ(kt::Pixels(x), Median(b, kt::Pixels(b)));
  EXPECT_TRUE(image.GuardIntact());
}

// Other depths, mismatched geometries and empty sources are refused, leaving the target.
TEST_F(Pixels, RefusalsLeaveTheTarget) {
  Dib src;
  Dib dst;
  ASSERT_TRUE(src.Create(32, 6, 6, 0));
  src.ncbwSetAlphaFlag(3);
  src.GetRzBmiHeader()->biXPelsPerMeter = 2835;
  ASSERT_TRUE(dst.CreateQuarter(src));  // a fresh progressive header, nothing carried over
  const tagRZBMINFOHEADER fresh = kt::MakeHeader(32, 3, 3, 1);
  EXPECT_EQ(std::memcmp(dst.GetRzBmiHeader(), &fresh, sizeof fresh), 0);
  ASSERT_TRUE(src.Create(8, 6, 6, 1));
  EXPECT_FALSE(dst.CreateQuarter(src));
  EXPECT_FALSE(dst.CreateEighth(Dib()) || dst.IsValidDIB());  // an empty source empties this object
  EXPECT_FALSE(dst.AdjustBrightness(0) || dst.Median3x3(dst));
  ASSERT_TRUE(src.Create(24, 0, 4, 1));  // nothing to sample from
  ASSERT_TRUE(dst.Create(24, 3, 3, 1));
  EXPECT_FALSE(dst.CreateScaled(src, 3, 3) || dst.IsValidDIB());
  for (WORD bits :
       {1, 8, 16, 64}) {  // other depths than 24 and 32 are only copied at their own size
    ASSERT_TRUE(kt::CreateRandom(src, bits, 7, 3, 1, bits));
    ASSERT_TRUE(dst.CreateScaled(src, 7, 3));
    EXPECT_EQ(kt::Pixels(dst), kt::Pixels(src));
    EXPECT_FALSE(dst.CreateScaled(src, 5, 4) || dst.IsValidDIB() || Dib(src).Scale(5, 4));
  }

  using Op = bool (*)(Dib&, const Dib&);
  const std::pair<const char*, Op> ops[] = {
      {"quarter", [](Dib& d, const Dib& s) { return d._GetQuarterDIB(s, 0); }},
      {"mirror", [](Dib& d, const Dib& s) { return d.Mirror(1, 1, s); }},
      {"frame", [](Dib& d, const Dib& s) { return d._GetOddFrame(s, 0, 1) || d.CopyField(s, 1); }},
      {"scale", [](Dib& d, const Dib& s) { return d.Scale(s, 4, 4); }},  // this object is not 4 x 4
      {"median", [](Dib& d, const Dib& s) { return d.Median3x3(s); }},
      {"brightness", [](Dib& d, const Dib&) { return d.AdjustBrightness(128); }},
  };
  // (source bits, width, height; target bits, width, height; the operations refused)
  for (auto [sb, sw, sh, db, dw, dh, refused] :
       {std::tuple{24, 6, 6, 24, 3, 2, "quarter"},
        std::tuple{24, 9, 9, 24, 4, 5, "quarter scale median"},
        std::tuple{8, 6, 3, 8, 6, 3, "mirror"},
        std::tuple{16, 6, 3, 16, 6, 3, "mirror median brightness"},
        std::tuple{24, 6, 3, 24, 6, 4, "mirror frame median"},
        std::tuple{24, 6, 3, 32, 6, 3, "mirror median"}, std::tuple{24, 5, 5, 24, 4, 5, "median"},
        std::tuple{16, 7, 3, 16, 4, 4, "scale"}}) {
    ASSERT_TRUE(src.Create(static_cast<WORD>(sb), sw, sh, 1));
    ASSERT_TRUE(kt::CreateRandom(dst, static_cast<WORD>(db), dw, dh, 1, 2));
    const Bytes before = kt::Pixels(dst);
    for (const auto& [name, op] : ops) {
      if (std::string(refused).find(name) != std::string::npos) {
        EXPECT_FALSE(op(dst, src)) << name << " of " << sb << " bits " << sw << "x" << sh;
      }
    }
    EXPECT_FALSE(dst.Mirror(1, 0, Dib()) || dst.CopyField(Dib(), 1) || dst.Median3x3(Dib()));
    EXPECT_EQ(kt::Pixels(dst), before);
  }
  for (auto [w, h] : {std::pair{0, 3}, std::pair{4, 0}}) {  // empty images are taken as they are
    ASSERT_TRUE(src.Create(24, w, h, 0));
    ASSERT_TRUE(dst.Create(24, w, h, 0));
    EXPECT_TRUE(dst.CopyField(src, 1) && dst.CreateInterpolatedFrame(src, 0, 1) &&
                dst.Median3x3(src) && dst.AdjustBrightness(0));
  }

  // Attached with negative widths: refused before any copy (which could not hold such an image).
  kt::GuardedImage in(24, 8, 4);
  kt::GuardedImage out(24, 4, 2);
  kt::FillNoise(in.Bits(), 96, 7);
  const Bytes original = in.bytes;
  Dib from(&in.header, in.Bits());
  Dib to(&out.header, out.Bits());
  in.header.biWidth = -8;
  EXPECT_FALSE(to._GetQuarterDIB(from, 0) || Dib(from).AdjustBrightness(0) ||
               Dib(from).Median3x3(from));
  out.header.biWidth = -4;
  EXPECT_FALSE(to._GetQuarterDIB(from, 0));
  EXPECT_TRUE(std::all_of(out.bytes.begin(), out.bytes.end(),
                          [](BYTE b) { return b == kt::GuardedImage::kGuardByte; }));
  EXPECT_EQ(in.bytes, original);
}

}  // namespace
