// Every form the loader reads: sample files against their writers' decodings, hand-built ones
// against one here.

#include "bmp_builder.h"
#include "io_support.h"

#include <bit>
#include <fstream>
#include <iterator>

namespace {

using kt::BmpFields;
using kt::MakeBmp;

// Pixel (x, y from the top) of a loaded bitmap as 0xAARRGGBB (grey for 8 bits).
std::uint32_t Argb(const CRZDIBBase2& dib, int x, int y) {
  const std::size_t at = static_cast<std::size_t>(dib.DIBHeight() - 1 - y) * dib.DIBBytesPerLine() +
                         static_cast<std::size_t>(4 * x + 3);
  return kt::Shown(dib, x, y) |
         (dib.DIBBitCount() == 32 ? std::uint32_t{dib.GetBytes()[at]} << 24 : 0);
}

const char* Load(CRZDIB2& dib, const std::vector<std::uint8_t>& file) {
  return dib.CreateFromMemory(file.data(), file.size())
             ? nullptr
             : kolvex::BitmapFileProblem(file.data(), file.size());
}

// decoded.txt: see tests/tools/make_bitmap_samples.py.
TEST(Forms, FilesOtherProgramsWroteLoadAsTheyDecodeThem) {
  const std::string dir = KOLVEX_SOURCE_DIR "/tests/data/bitmaps/";
  std::ifstream list(dir + "decoded.txt");
  std::string name, decoder, read, hex;
  int width = 0, height = 0, compared = 0;
  while (list >> name >> decoder >> read >> width >> height >> hex) {
    SCOPED_TRACE(name + " decoded by " + decoder);
    std::ifstream in(dir + name, std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
    CRZDIB2 dib;
    ASSERT_EQ(Load(dib, file), nullptr);
    ASSERT_TRUE(dib.DIBWidth() == width && dib.DIBHeight() == height);
    ASSERT_EQ(hex.size(), 8u * static_cast<std::size_t>(width * height));
    // Each decoder widens narrow channels its own way: the file's bits are compared, alpha where
    // both read it.
    kolvex::BitmapFileFormat f;
    ASSERT_EQ(kolvex::DescribeBitmapFile(file.data(), file.size(), file.size(), f), nullptr);
    const std::uint32_t masks[4] = {f.redMask, f.greenMask, f.blueMask, f.alphaMask};
    const bool alpha = f.loadedAlpha && read == "alpha";
    for (int i = 0; i < width * height; ++i) {
      const auto rgba = static_cast<std::uint32_t>(
          std::stoul(hex.substr(8 * static_cast<std::size_t>(i), 8), nullptr, 16));
      const std::uint32_t argb = Argb(dib, i % width, i / width);
      for (int c = 0; c < (alpha ? 4 : 3); ++c) {
        const int bits = masks[c] != 0 ? std::min(std::popcount(masks[c]), 8) : 8;
        const std::uint32_t want = rgba >> (24 - 8 * c) & 0xFF;
        const std::uint32_t have = argb >> (c == 3 ? 24 : 16 - 8 * c) & 0xFF;
        ASSERT_EQ(have >> (8 - bits), want >> (8 - bits))
            << "pixel " << i % width << "," << i / width << " channel " << c;
      }
    }
    ++compared;
  }
  EXPECT_EQ(compared, 41);
}

// Bit replication written out: the channel's bits repeated to 8 or more, cut at 8.
std::uint32_t Replicated(std::uint32_t pixel, std::uint32_t mask) {
  std::string bits, eight;
  for (std::uint32_t b = 0x80000000u; b != 0; b >>= 1) {
    if ((mask & b) != 0) bits += (pixel & b) != 0 ? '1' : '0';
  }
  while (!bits.empty() && eight.size() < 8) eight += bits;
  return bits.empty() ? 0 : static_cast<std::uint32_t>(std::stoul(eight.substr(0, 8), nullptr, 2));
}

// Pixel (x, y from the top) of a hand-built file, from its fields and last bytes: a table index
// (3-byte entries after a core header, entry 0 past its end), replicated bit fields, or blue,
// green, red.
std::uint32_t Decoded(const BmpFields& s, const std::vector<std::uint8_t>& file, int x, int y) {
  const std::size_t rows = static_cast<std::size_t>(std::abs(s.height));
  const std::size_t row =
      s.height < 0 ? static_cast<std::size_t>(y) : rows - 1 - static_cast<std::size_t>(y);
  const std::uint8_t* p =
      file.data() + file.size() - (rows - row) * kt::BmpStride(s.bits, s.width) + x * s.bits / 8;
  if (s.bits <= 8) {
    const std::size_t entry = s.infoSize == 12 ? 3 : 4;
    const std::size_t index = *p >> (8 - s.bits - x * s.bits % 8) & ((1u << s.bits) - 1);
    const std::uint8_t* c =
        s.palette.data() + (entry * index < s.palette.size() ? entry * index : 0);
    return static_cast<std::uint32_t>(c[2] << 16 | c[1] << 8 | c[0]);
  }
  std::uint32_t v = 0, argb = 0;
  for (int b = 0; b < s.bits / 8; ++b) v |= static_cast<std::uint32_t>(p[b]) << (8 * b);
  for (std::size_t c = 0; c < s.masks.size(); ++c)
    argb |= Replicated(v, s.masks[c]) << (c == 3 ? 24 : 16 - 8 * c);
  return s.masks.empty() ? v & 0xFFFFFF : argb;
}

// The colours of a 4-byte table as a core header's 3-byte entries.
std::vector<std::uint8_t> CoreTable(std::vector<std::uint8_t> table) {
  for (std::size_t i = 0; i < table.size() / 4; ++i)
    std::copy_n(table.begin() + static_cast<std::ptrdiff_t>(4 * i), 3,
                table.begin() + static_cast<std::ptrdiff_t>(3 * i));
  table.resize(table.size() / 4 * 3);
  return table;
}

// A 5 x 3 file of the palette indices in `rows` (stored rows from the bottom, "/" between).
BmpFields Indices(const std::string& rows, uint16_t bits) {
  BmpFields s{.width = 5, .height = 3, .bits = bits, .palette = kt::MakePalette(1 << bits, false)};
  s.pixels.resize(3 * kt::BmpStride(bits, 5));
  for (int i = 0; i < 15; ++i) {
    s.pixels[i / 5 * kt::BmpStride(bits, 5) + i % 5 * bits / 8] |=
        static_cast<uint8_t>((rows[i / 5 * 6 + i % 5] - '0') << (8 - bits - i % 5 * bits % 8));
  }
  return s;
}

TEST(Forms, HandBuiltHeadersTablesRowOrdersRunsAndBitFieldsLoadAsDecodedHere) {
  // Each file, and the plain one it decodes as.
  std::vector<std::tuple<std::string, BmpFields, BmpFields>> files;
  for (uint16_t bits : {1, 2, 4, 8}) {
    const int indices = 1 << bits;
    auto add = [&](const std::string& name, auto edit) {
      BmpFields s{
          .width = 9, .height = 3, .bits = bits, .palette = kt::MakePalette(indices, false)};
      edit(s);
      files.emplace_back(std::to_string(bits) + " bits, " + name, s, s);
    };
    add("classic header", [](BmpFields&) {});
    add("core header", [](BmpFields& s) { s.infoSize = 12, s.palette = CoreTable(s.palette); });
    for (uint32_t size : {16u, 20u, 24u, 36u, 42u, 48u, 64u, 52u, 56u, 108u, 124u}) {
      add("header of " + std::to_string(size), [&](BmpFields& s) { s.infoSize = size; });
    }
    add("a table longer than the depth needs", [&](BmpFields& s) {
      s.clrUsed = static_cast<uint32_t>(indices + 44);
      s.palette.resize(s.palette.size() + 44 * 4, 0x5A);
    });
    add("a gap before the pixels", [&](BmpFields& s) { s.offBits = 14 + 40 + indices * 4 + 6; });
    add("top-down rows", [](BmpFields& s) { s.height = -3; });
    add("a core table cut short where the pixels start", [](BmpFields& s) {
      s.infoSize = 12, s.palette = CoreTable({s.palette.begin(), s.palette.begin() + 8});
    });
  }
  const std::tuple<uint16_t, uint32_t, uint32_t, std::vector<uint32_t>> layouts[] = {
      // bits, compression (0 BI_RGB, 3 BI_BITFIELDS, 6 BI_ALPHABITFIELDS), header size, red, green,
      // blue[, alpha]
      {16, 0, 40, {0x7C00, 0x03E0, 0x001F}},  // BI_RGB: 5-5-5 (the masks written are a gap)
      {16, 3, 40, {0x001F, 0x07E0, 0xF800}},
      {16, 6, 40, {0x0F00, 0x00F0, 0x000F, 0xF000}},
      {16, 3, 56, {0x000F, 0x00F0, 0x0F00, 0xF000}},
      {16, 3, 124, {0xF800, 0x07C0, 0x003E, 0x0001}},
      {16, 3, 40, {0xFF00, 0x00FF, 0}},
      {16, 3, 108, {0x8000, 0x7FC0, 0x0030, 0x000F}},
      {32, 6, 40, {0xFF000000, 0xFF0000, 0xFF00, 0xFF}},
      {32, 3, 124, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}},
  };
  for (const auto& [bits, compression, infoSize, masks] : layouts) {
    const BmpFields s{.width = 7,
                      .height = 2,
                      .bits = bits,
                      .compression = compression,
                      .infoSize = infoSize,
                      .masks = masks};
    files.emplace_back(
        std::to_string(bits) + " bits, bit fields of header " + std::to_string(infoSize), s, s);
  }
  // Runs the sample files lack: deltas (skipped pixels read entry 0), early ends, padding, RLE4.
  for (const auto& [name, stream, rows] :
       std::initializer_list<std::tuple<const char*, std::vector<uint8_t>, const char*>>{
           {"RLE8 delta", {1, 5, 0, 2, 2, 1, 1, 6, 0, 1}, "50000/00060/00000"},
           {"RLE8 early end", {5, 1, 0, 1}, "11111/00000/00000"},
           {"RLE8 ending once the last row is whole",
            {5, 1, 0, 0, 5, 2, 0, 0, 5, 3},
            "11111/22222/33333"},
           {"RLE8 runs into the padding",
            {8, 1, 0, 0, 0, 7, 1, 2, 3, 4, 5, 6, 7, 0, 0, 1},
            "11111/12345/00000"},
           {"RLE4 encoded runs alternate nibbles",
            {5, 0x12, 0, 0, 4, 0x30, 0, 1},
            "12121/30300/00000"},
           {"RLE4 absolute runs, padded",
            {0, 3, 0x34, 0x50, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 0, 1},
            "34500/12345/00000"}}) {
    const uint16_t bits = name[3] == '4' ? 4 : 8;
    BmpFields s = Indices(rows, bits);
    s.compression = bits == 4 ? 2 : 1;
    s.pixels = stream;
    files.emplace_back(name, s, Indices(rows, bits));
  }
  for (const auto& [name, fields, plain] : files) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> file = MakeBmp(plain);
    CRZDIB2 dib;
    ASSERT_EQ(Load(dib, MakeBmp(fields)), nullptr);
    EXPECT_FALSE(dib.IsAlphaInvalid());
    for (int i = 0; i < fields.width * std::abs(fields.height); ++i) {
      ASSERT_EQ(Argb(dib, i % fields.width, i / fields.width),
                Decoded(plain, file, i % fields.width, i / fields.width))
          << std::hex << i;
    }
  }
}

}  // namespace
