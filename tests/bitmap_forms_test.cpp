// Every form of bitmap file the loader reads: files ImageMagick and PIL wrote
// against those programs' own decodings, hand-built run-length streams for
// each code and their broken variants, bit-field layouts against a plain
// computation, header kinds and palettes against the classic form, and the
// header-only description against what loading makes of each file.

#include "bmp_builder.h"
#include "io_support.h"

#include <bit>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

using kt::BmpFields;
using kt::MakeBmp;

std::vector<BYTE> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::string kSamples = KOLVEX_SOURCE_DIR "/tests/data/bitmaps/";

// Pixel (x, y from the top) of a loaded bitmap as 0xAARRGGBB: grey values
// for 8 bits, the fourth byte for 32.
std::uint32_t Argb(const CRZDIBBase2& dib, int x, int y) {
  const BYTE* row = dib.GetBytes() + static_cast<std::ptrdiff_t>(dib.DIBHeight() - 1 - y) * dib.DIBBytesPerLine();
  if (dib.DIBBitCount() == 8) return row[x] * 0x010101u;
  const BYTE* p = row + static_cast<std::ptrdiff_t>(x) * dib.DIBBytesPerPixel();
  const std::uint32_t alpha = dib.DIBBitCount() == 32 ? p[3] : 0;
  return alpha << 24 | static_cast<std::uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
}

// decoded.txt: NAME DECODER ALPHA WIDTH HEIGHT RRGGBBAA... per line, written
// by tests/tools/make_bitmap_samples.py with ImageMagick and PIL.
TEST(Forms, FilesOtherProgramsWroteLoadAsTheyDecodeThem) {
  std::ifstream list(kSamples + "decoded.txt");
  std::string line;
  int compared = 0;
  int alphas = 0;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::string name, decoder, read, hex;
    int width = 0, height = 0;
    fields >> name >> decoder >> read >> width >> height >> hex;
    SCOPED_TRACE(name + " decoded by " + decoder);
    const std::vector<BYTE> file = ReadFile(kSamples + name);
    CRZDIB2 dib;
    ASSERT_TRUE(dib.CreateFromMemory(file.data(), file.size())) << kolvex::BitmapFileProblem(file.data(), file.size());
    ASSERT_EQ(dib.DIBWidth(), width);
    ASSERT_EQ(dib.DIBHeight(), height);
    ASSERT_EQ(hex.size(), 8u * static_cast<std::size_t>(width * height));
    // The decoders agree on the bits each channel has in the file; they widen
    // narrow ones differently (bit replication here, ImageMagick shifts
    // channels under 5 bits, PIL scales v x 255 / (2^n - 1) down), so only
    // those bits are compared.
    kolvex::BitmapFileFormat format;
    ASSERT_EQ(kolvex::DescribeBitmapFile(file.data(), file.size(), file.size(), format), nullptr);
    const std::uint32_t masks[4] = {format.redMask, format.greenMask, format.blueMask, format.alphaMask};
    // Alpha where both read it (ImageMagick takes 32-bit BI_RGB's fourth
    // byte as alpha too; here it carries none).
    const bool alpha = dib.DIBBitCount() == 32 && !dib.IsAlphaInvalid() && read == "alpha";
    alphas += alpha;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const auto rgba = static_cast<std::uint32_t>(std::stoul(hex.substr(8 * static_cast<std::size_t>(y * width + x), 8), nullptr, 16));
        const std::uint32_t argb = Argb(dib, x, y);
        for (int c = 0; c < (alpha ? 4 : 3); ++c) {
          const int bits = masks[c] != 0 ? std::min(std::popcount(masks[c]), 8) : 8;
          const std::uint32_t want = rgba >> (24 - 8 * c) & 0xFF;
          const std::uint32_t have = argb >> (c == 3 ? 24 : 16 - 8 * c) & 0xFF;
          ASSERT_EQ(have >> (8 - bits), want >> (8 - bits)) << "pixel " << x << "," << y << " channel " << c;
        }
      }
    }
    ++compared;
  }
  EXPECT_GE(compared, 40);
  EXPECT_EQ(alphas, 4);
}

}  // namespace

// ---- Run-length streams: every code, and the ways a stream can break ----

struct RunCase {
  const char* name;
  bool four;                     // BI_RLE4, else BI_RLE8
  std::vector<std::uint8_t> stream;
  const char* rows;              // palette indices, stored rows from the bottom, '/' between
  const char* reason;            // or why the file is refused
};

TEST(Forms, RunLengthStreamsDecodeOrAreRefused) {
  const char* outside = "invalid bitmap (run-length data outside the image)";
  const char* truncated = "invalid bitmap (run-length data truncated)";
  const RunCase cases[] = {
      {"encoded runs, end of line, end of bitmap", false, {5, 1, 0, 0, 2, 2, 3, 3, 0, 0, 5, 4, 0, 1}, "11111/22333/44444", nullptr},
      {"absolute runs of odd and even length, padded", false,
       {0, 3, 7, 8, 9, 0, 2, 1, 0, 0, 0, 4, 1, 2, 3, 4, 1, 5, 0, 0, 0, 5, 9, 8, 7, 6, 5, 0, 0, 1}, "78911/12345/98765", nullptr},
      {"a delta skips pixels, which read entry 0", false, {1, 5, 0, 2, 2, 1, 1, 6, 0, 1}, "50000/00060/00000", nullptr},
      {"an early end of bitmap", false, {5, 1, 0, 1}, "11111/00000/00000", nullptr},
      {"the input ends once the last row is whole", false, {5, 1, 0, 0, 5, 2, 0, 0, 5, 3}, "11111/22222/33333", nullptr},
      {"runs into the row's padding are dropped", false, {8, 1, 0, 0, 0, 7, 1, 2, 3, 4, 5, 6, 7, 0, 0, 1}, "11111/12345/00000", nullptr},
      {"RLE4 encoded runs alternate nibbles", true, {5, 0x12, 0, 0, 4, 0x30, 0, 1}, "12121/30300/00000", nullptr},
      {"RLE4 absolute runs of odd length, padded", true, {0, 3, 0x34, 0x50, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 0, 1},
       "34500/12345/00000", nullptr},
      {"a run past the padded row", false, {9, 1, 0, 1}, nullptr, outside},
      {"an absolute run past the padded row", false, {0, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 1}, nullptr, outside},
      {"RLE4: a run past the padded row", true, {9, 0x11, 0, 1}, nullptr, outside},
      {"a delta past the right edge", false, {0, 2, 9, 0, 0, 1}, nullptr, outside},
      {"a delta past the top row", false, {0, 2, 0, 3, 0, 1}, nullptr, outside},
      {"codes after the last row", false, {0, 0, 0, 0, 0, 0, 1, 1, 0, 1}, nullptr, outside},
      {"no end of bitmap", false, {5, 1}, nullptr, truncated},
      {"a delta cut short", false, {0, 2, 1}, nullptr, truncated},
      {"an absolute run cut short", false, {0, 5, 1, 2}, nullptr, truncated},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> file = MakeBmp(BmpFields{.width = 5, .height = 3, .bits = static_cast<uint16_t>(c.four ? 4 : 8),
        .compression = c.four ? 2u : 1u, .palette = kt::MakePalette(c.four ? 16 : 256, false), .pixels = c.stream});
    if (c.reason != nullptr) {
      EXPECT_STREQ(kolvex::BitmapFileProblem(file.data(), file.size()), c.reason);
      // Refused from the stream alone: the image is never allocated.
      CMemFile in;
      in.Write(file.data(), static_cast<UINT>(file.size()));
      in.SeekToBegin();
      kt::FailAllocations onlyTheReadBuffer(1);
      CRZDIB2 dib;
      const char* why = nullptr;
      EXPECT_FALSE(dib.CreateFromFile(in, &why));
      EXPECT_STREQ(why, c.reason);
      continue;
    }
    CRZDIB2 dib;
    ASSERT_TRUE(dib.CreateFromMemory(file.data(), file.size())) << kolvex::BitmapFileProblem(file.data(), file.size());
    ASSERT_EQ(dib.DIBBitCount(), 24);
    std::string rows;
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 5; ++x) rows += "0123456789abcdef"[Argb(dib, x, 2 - y) & 0xF];  // blue = index
      rows += y < 2 ? "/" : "";
    }
    EXPECT_EQ(rows, c.rows);
  }
}

// ---- Bit fields: every layout against the rule computed by hand ----

// Bit replication written out: the channel's bits, repeated until there are
// 8, cut at 8.
std::uint32_t Replicated(std::uint32_t pixel, std::uint32_t mask) {
  std::string bits;
  for (std::uint32_t b = 0x80000000u; b != 0; b >>= 1) {
    if ((mask & b) != 0) bits += (pixel & b) != 0 ? '1' : '0';
  }
  if (bits.empty()) return 0;
  std::string eight;
  while (eight.size() < 8) eight += bits;
  return static_cast<std::uint32_t>(std::stoul(eight.substr(0, 8), nullptr, 2));
}

TEST(Forms, BitFieldsOfAnyLayoutWidenByBitReplication) {
  struct Layout {
    uint16_t bits;
    uint32_t compression;  // 3 BI_BITFIELDS, 6 BI_ALPHABITFIELDS
    uint32_t infoSize;
    std::vector<uint32_t> masks;  // red, green, blue[, alpha]
  };
  const Layout layouts[] = {
      {16, 3, 40, {0xF800, 0x07E0, 0x001F}},          {16, 3, 40, {0x001F, 0x07E0, 0xF800}},
      {16, 6, 40, {0x0F00, 0x00F0, 0x000F, 0xF000}},  {16, 3, 56, {0x000F, 0x00F0, 0x0F00, 0xF000}},
      {16, 3, 124, {0x7C00, 0x03E0, 0x001F, 0x8000}}, {16, 3, 124, {0xF800, 0x07C0, 0x003E, 0x0001}},
      {16, 3, 40, {0xE000, 0x1C00, 0x0300}},          {16, 3, 40, {0xFF00, 0x00FF, 0}},
      {16, 3, 108, {0x8000, 0x7FC0, 0x0030, 0x000F}}, {32, 3, 40, {0xFF0000, 0xFF00, 0xFF}},
      {32, 3, 40, {0xFF, 0xFF00, 0xFF0000}},          {32, 6, 40, {0xFF000000, 0xFF0000, 0xFF00, 0xFF}},
      {32, 3, 124, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
      {32, 3, 124, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}},
      {32, 3, 52, {0xFFE00000, 0x1FFC00, 0x3FF}},     {32, 3, 108, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(testing::Message() << l.bits << " bits, header " << l.infoSize << ", red mask " << std::hex << l.masks[0]);
    const std::vector<std::uint8_t> file = MakeBmp(BmpFields{.width = 7, .height = 2, .bits = l.bits,
        .compression = l.compression, .infoSize = l.infoSize, .masks = l.masks});
    CRZDIB2 dib;
    ASSERT_TRUE(dib.CreateFromMemory(file.data(), file.size())) << kolvex::BitmapFileProblem(file.data(), file.size());
    const bool alpha = l.masks.size() == 4 && l.masks[3] != 0;
    ASSERT_EQ(dib.DIBBitCount(), alpha ? 32 : 24);
    EXPECT_EQ(dib.IsAlphaInvalid(), false);
    const std::size_t pixelBytes = l.bits / 8;
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 7; ++x) {
        const std::uint8_t* p = file.data() + file.size() - static_cast<std::size_t>(y + 1) * kt::BmpStride(l.bits, 7) + pixelBytes * static_cast<std::size_t>(x);
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < pixelBytes; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
        std::uint32_t want = 0;
        for (std::size_t c = 0; c < l.masks.size(); ++c) {
          want |= Replicated(v, l.masks[c]) << (c == 3 ? 24 : 16 - 8 * c);
          // The rule stays within 1 of rounding v x 255 / (2^n - 1).
          const int n = std::popcount(l.masks[c]);
          if (n == 0) continue;
          const double exact = ((v & l.masks[c]) >> std::countr_zero(l.masks[c])) * 255.0 / static_cast<double>((std::uint64_t{1} << n) - 1);
          EXPECT_LE(std::abs(static_cast<double>(Replicated(v, l.masks[c])) - exact), 1.0);
        }
        ASSERT_EQ(Argb(dib, x, y), want) << std::hex << "pixel " << x << "," << y << " value " << v;
      }
    }
  }
}

// ---- Header kinds and colour tables ----

// The colours of a 4-byte table as a core header's 3-byte entries.
std::vector<std::uint8_t> CoreTable(const std::vector<std::uint8_t>& table) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < table.size(); i += 4) out.insert(out.end(), table.begin() + static_cast<std::ptrdiff_t>(i), table.begin() + static_cast<std::ptrdiff_t>(i + 3));
  return out;
}

TEST(Forms, EveryHeaderKindAndTableReadsThePixelsTheClassicHeaderDoes) {
  for (uint16_t bits : {1, 2, 4, 8}) {
    const int indices = 1 << bits;
    const std::vector<std::uint8_t> table = kt::MakePalette(indices, false);  // entry i: blue i, green 255 - i
    const BmpFields classic{.width = 9, .height = 3, .bits = bits, .palette = table};
    const std::vector<std::uint8_t> file = MakeBmp(classic);
    CRZDIB2 reference;
    ASSERT_TRUE(reference.CreateFromMemory(file.data(), file.size()));
    // The classic form itself, against indices unpacked here from the rows.
    const std::size_t stride = kt::BmpStride(bits, 9);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 9; ++x) {
        const std::uint8_t byte = file[file.size() - static_cast<std::size_t>(3 - y) * stride + static_cast<std::size_t>(x * bits / 8)];
        const int index = byte >> (8 - bits - x * bits % 8) & (indices - 1);
        ASSERT_EQ(Argb(reference, x, 2 - y), static_cast<std::uint32_t>(3 * index % 256 << 16 | (255 - index) << 8 | index)) << bits << " bits, pixel " << x;
      }
    }

    std::vector<std::pair<std::string, BmpFields>> forms;
    auto add = [&](const std::string& name, auto edit) {
      BmpFields s = classic;
      edit(s);
      forms.emplace_back(name, s);
    };
    add("core header", [&](BmpFields& s) { s.infoSize = 12, s.palette = CoreTable(table); });
    for (uint32_t size : {16u, 20u, 24u, 36u, 42u, 48u, 64u}) {
      add("OS/2 header of " + std::to_string(size), [&](BmpFields& s) { s.infoSize = size; });
    }
    for (uint32_t size : {52u, 56u, 108u, 124u}) {
      add("Windows header of " + std::to_string(size), [&](BmpFields& s) { s.infoSize = size; });
    }
    add("a table longer than the depth needs", [&](BmpFields& s) {
      s.clrUsed = static_cast<uint32_t>(indices + 44);
      s.palette.resize(s.palette.size() + 44 * 4, 0x5A);
    });
    add("a gap before the pixels", [&](BmpFields& s) { s.offBits = 14 + 40 + indices * 4 + 6; });
    for (const auto& [name, fields] : forms) {
      SCOPED_TRACE(testing::Message() << bits << " bits, " << name);
      const std::vector<std::uint8_t> variant = MakeBmp(fields);
      CRZDIB2 dib;
      ASSERT_TRUE(dib.CreateFromMemory(variant.data(), variant.size())) << kolvex::BitmapFileProblem(variant.data(), variant.size());
      EXPECT_EQ(kt::Pixels(dib), kt::Pixels(reference));
    }

    // A shorter table, by its count or (core header) by where the pixels
    // start: indices past it read entry 0.
    for (bool core : {false, true}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, short table, core " << core);
      BmpFields s = classic;
      s.palette.resize(2 * 4);
      s.clrUsed = core ? 0 : 2;
      if (core) s.infoSize = 12, s.palette = CoreTable(s.palette);
      const std::vector<std::uint8_t> variant = MakeBmp(s);
      CRZDIB2 dib;
      ASSERT_TRUE(dib.CreateFromMemory(variant.data(), variant.size())) << kolvex::BitmapFileProblem(variant.data(), variant.size());
      for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 9; ++x) {
          const std::uint32_t full = Argb(reference, x, y);
          ASSERT_EQ(Argb(dib, x, y), (full & 0xFF) < 2 ? full : 0x00FF00u) << "pixel " << x << "," << y;
        }
      }
    }
  }
}

// ---- The header-only description against what loading makes ----

TEST(Forms, TheDescriptionTellsWhatLoadingMakes) {
  struct Expect {
    const char* name;
    const char* kind;
    uint16_t bits;
    const char* compression;
    uint32_t masks[4];
    uint32_t palette;
  };
  const Expect expected[] = {
      {"im-rle8.bmp", "BITMAPINFOHEADER", 8, "BI_RLE8", {}, 256},
      {"im-core-4.bmp", "BITMAPCOREHEADER", 4, "BI_RGB", {}, 16},
      {"im-4444.bmp", "BITMAPV5HEADER", 16, "BI_BITFIELDS", {0xF00, 0xF0, 0xF, 0xF000}, 0},
      {"pil-8-short.bmp", "BITMAPINFOHEADER", 8, "BI_RGB", {}, 6},
      {"pil-32.bmp", "BITMAPINFOHEADER", 32, "BI_RGB", {0xFF0000, 0xFF00, 0xFF, 0}, 0},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.name);
    const std::vector<BYTE> file = ReadFile(kSamples + e.name);
    kolvex::BitmapFileFormat f;
    ASSERT_EQ(kolvex::DescribeBitmapFile(file.data(), file.size(), file.size(), f), nullptr);
    EXPECT_STREQ(f.headerKind, e.kind);
    EXPECT_EQ(f.bitCount, e.bits);
    EXPECT_STREQ(f.compressionName, e.compression);
    EXPECT_EQ((std::vector<uint32_t>{f.redMask, f.greenMask, f.blueMask, f.alphaMask}),
              std::vector<uint32_t>(e.masks, e.masks + 4));
    EXPECT_EQ(f.paletteEntries, e.palette);
  }

  // Every sample: what the description says loading makes, loading makes.
  std::ifstream list(kSamples + "decoded.txt");
  std::string name, rest;
  while (list >> name && std::getline(list, rest)) {
    SCOPED_TRACE(name);
    const std::vector<BYTE> file = ReadFile(kSamples + name);
    kolvex::BitmapFileFormat f;
    ASSERT_EQ(kolvex::DescribeBitmapFile(file.data(), file.size(), file.size(), f), nullptr);
    CRZDIB2 dib;
    ASSERT_TRUE(dib.CreateFromMemory(file.data(), file.size()));
    EXPECT_EQ(f.width, dib.DIBWidth());
    EXPECT_EQ(f.height, dib.DIBHeight());
    EXPECT_EQ(f.loadedBitCount, dib.DIBBitCount());
    EXPECT_EQ(f.loadedAlpha, dib.DIBBitCount() == 32 && !dib.IsAlphaInvalid());
    EXPECT_EQ(f.loadedBytes, static_cast<uint32_t>(dib.DIBSize()));
  }

  // Through a file, only the head is read: here a file of 2 GiB - 1 bytes
  // whose headers promise a 24-bit image of 715 MB.
  struct HugeFile : CMemFile {
    ULONGLONG GetLength() const override { return (ULONGLONG{1} << 31) - 1; }
    UINT Read(void* buffer, UINT count) override {
      requested += count;
      return CMemFile::Read(buffer, count);
    }
    ULONGLONG requested = 0;
  } huge;
  const std::vector<std::uint8_t> head = MakeBmp(BmpFields{.width = 23000, .height = 10000, .pixels = std::vector<uint8_t>(2000)});
  huge.Write(head.data(), static_cast<UINT>(head.size()));
  huge.SeekToBegin();
  kolvex::BitmapFileFormat f;
  const char* why = kolvex::DescribeBitmapFile(huge, f);
  ASSERT_EQ(why, nullptr) << why;
  EXPECT_LE(huge.requested, kolvex::kBitmapFileHeadBytes);
  EXPECT_EQ(f.loadedBytes, 69000u * 10000u);
}
