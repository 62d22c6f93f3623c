// Which bitmap files the loader accepts, and the reason it gives for the rest.

#include "bmp_builder.h"
#include "test_support.h"

#include <climits>
#include <string>

namespace {

using kt::BmpFields;
using kt::MakeBmp;

std::string Problem(const std::vector<uint8_t>& file) {
  const char* why = kolvex::BitmapFileProblem(file.data(), file.size());
  return why ? why : "";
}

BmpFields Fields(void (*edit)(BmpFields&)) {
  BmpFields s;
  edit(s);
  return s;
}

TEST(BitmapFile, AcceptsTheFormatsProgramsWrite) {
  const BmpFields accepted[] = {
      Fields([](BmpFields&) {}),
      Fields([](BmpFields& s) { s.height = -2; }),
      Fields([](BmpFields& s) { s.bits = 32; }),
      Fields([](BmpFields& s) { s.bits = 16; }),
      Fields([](BmpFields& s) { s.bits = 16, s.compression = 3, s.masks = {0xF800, 0x07E0, 0x001F}; }),
      Fields([](BmpFields& s) { s.bits = 16, s.compression = 3, s.masks = {0x7C00, 0x03E0, 0x001F}; }),
      Fields([](BmpFields& s) { s.bits = 32, s.compression = 3, s.masks = {0xFF0000, 0xFF00, 0xFF}; }),
      Fields([](BmpFields& s) {
        s.bits = 32, s.compression = 3, s.infoSize = 108, s.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
      }),
      Fields([](BmpFields& s) { s.infoSize = 124; }),
      Fields([](BmpFields& s) { s.infoSize = 52; }),
      Fields([](BmpFields& s) { s.bits = 8, s.palette = kt::MakePalette(256, true); }),
      Fields([](BmpFields& s) { s.bits = 8, s.palette = kt::MakePalette(256, false); }),
      Fields([](BmpFields& s) { s.bits = 8, s.clrUsed = 3, s.palette = kt::MakePalette(3, false); }),
      Fields([](BmpFields& s) { s.bits = 8; }),  // no colour table at all: grey levels
      Fields([](BmpFields& s) { s.bits = 4, s.palette = kt::MakePalette(16, false); }),
      Fields([](BmpFields& s) { s.bits = 1, s.width = 33, s.palette = kt::MakePalette(2, false); }),
      Fields([](BmpFields& s) { s.offBits = 200; }),  // a gap before the pixels
      Fields([](BmpFields& s) { s.infoSize = 12; }),
      Fields([](BmpFields& s) { s.infoSize = 16; }),
      Fields([](BmpFields& s) { s.infoSize = 64; }),
      Fields([](BmpFields& s) { s.infoSize = 56; }),
      Fields([](BmpFields& s) { s.bits = 2, s.palette = kt::MakePalette(4, false); }),
      Fields([](BmpFields& s) { s.bits = 8, s.compression = 1, s.pixels = {3, 1, 0, 0, 0, 1}; }),
      Fields([](BmpFields& s) { s.bits = 4, s.compression = 2, s.palette = kt::MakePalette(16, false), s.pixels = {0, 1}; }),
      Fields([](BmpFields& s) { s.bits = 16, s.compression = 6, s.masks = {0xF00, 0xF0, 0xF, 0xF000}; }),
      Fields([](BmpFields& s) { s.bits = 32, s.compression = 3, s.masks = {0x3FF00000, 0xFFC00, 0x3FF}; }),
  };
  for (const BmpFields& s : accepted) {
    SCOPED_TRACE(testing::Message() << s.bits << " bits, header " << s.infoSize << ", height " << s.height);
    EXPECT_EQ(Problem(MakeBmp(s)), "");
  }
}

TEST(BitmapFile, RefusesWithAReason) {
  struct Case {
    BmpFields fields;
    const char* reason;
  };
  const Case refused[] = {
      {Fields([](BmpFields& s) { s.signature = false; }), "not a bitmap file (no BM signature)"},
      {Fields([](BmpFields& s) { s.infoSize = 18; }), "unsupported bitmap (info header size)"},
      {Fields([](BmpFields& s) { s.infoSize = 66; }), "unsupported bitmap (info header size)"},
      {Fields([](BmpFields& s) { s.width = 0; }), "invalid bitmap (width not positive)"},
      {Fields([](BmpFields& s) { s.width = -3; }), "invalid bitmap (width not positive)"},
      {Fields([](BmpFields& s) { s.height = 0; }), "invalid bitmap (height)"},
      {Fields([](BmpFields& s) { s.height = INT_MIN, s.pixels = {1}; }), "invalid bitmap (height)"},
      {Fields([](BmpFields& s) { s.bits = 3; }), "unsupported bitmap (bit count)"},
      {Fields([](BmpFields& s) { s.bits = 64; }), "unsupported bitmap (64 bits per pixel)"},
      {Fields([](BmpFields& s) { s.compression = 4; }), "unsupported bitmap (embedded JPEG)"},
      {Fields([](BmpFields& s) { s.compression = 5; }), "unsupported bitmap (embedded PNG)"},
      {Fields([](BmpFields& s) { s.compression = 7; }), "unsupported bitmap (compression)"},
      {Fields([](BmpFields& s) { s.infoSize = 64, s.bits = 1, s.compression = 3, s.palette = kt::MakePalette(2, false); }),
       "unsupported bitmap (OS/2 Huffman compression)"},
      {Fields([](BmpFields& s) { s.infoSize = 64, s.compression = 4; }), "unsupported bitmap (OS/2 RLE24 compression)"},
      {Fields([](BmpFields& s) { s.bits = 4, s.compression = 1, s.palette = kt::MakePalette(16, false); }),
       "invalid bitmap (compression and bit count disagree)"},
      {Fields([](BmpFields& s) { s.bits = 8, s.compression = 1, s.height = -2, s.pixels = {0, 1}; }),
       "invalid bitmap (top-down run-length image)"},
      {Fields([](BmpFields& s) { s.compression = 3, s.masks = {0xFF0000, 0xFF00, 0xFF}; }),
       "invalid bitmap (bit fields need 16 or 32 bits)"},
      {Fields([](BmpFields& s) { s.bits = 16, s.compression = 3, s.masks = {0xF0F0, 0x0F00, 0x000F}; }),
       "invalid bitmap (bit-field masks)"},  // not contiguous
      {Fields([](BmpFields& s) { s.bits = 16, s.compression = 3, s.masks = {0x1F800, 0x07E0, 0x001F}; }),
       "invalid bitmap (bit-field masks)"},  // outside the pixel
      {Fields([](BmpFields& s) { s.bits = 32, s.compression = 3, s.masks = {0xFF, 0xFF00, 0xFF80}; }),
       "invalid bitmap (bit-field masks)"},  // overlapping
      {Fields([](BmpFields& s) { s.bits = 32, s.compression = 3, s.masks = {0, 0, 0}; }),
       "invalid bitmap (bit-field masks)"},
      {Fields([](BmpFields& s) { s.offBits = 20; }), "invalid bitmap (pixel offset inside headers)"},
      {Fields([](BmpFields& s) { s.bits = 8, s.palette = kt::MakePalette(256, false), s.offBits = 100; }),
       "invalid bitmap (pixel offset inside headers)"},
      {Fields([](BmpFields& s) { s.pixels = std::vector<uint8_t>(23); }), "invalid bitmap (truncated pixel data)"},
      {Fields([](BmpFields& s) { s.width = 1 << 30, s.pixels = {1, 2, 3}; }), "unsupported bitmap (too large)"},
      {Fields([](BmpFields& s) { s.width = 100000, s.height = 100000, s.pixels = {1}; }),
       "unsupported bitmap (too large)"},
      {Fields([](BmpFields& s) { s.bits = 1, s.width = 100000000, s.height = 1, s.palette = kt::MakePalette(2, false), s.pixels = {1}; }),
       "invalid bitmap (truncated pixel data)"},
      {Fields([](BmpFields& s) { s.bits = 4; }), "invalid bitmap (pixel offset inside headers)"},
      {Fields([](BmpFields& s) { s.infoSize = 12, s.bits = 4, s.offBits = 26; }), "invalid bitmap (no colour table)"},
      {Fields([](BmpFields& s) { s.bits = 8, s.compression = 1, s.width = 20000, s.height = 20000, s.pixels = {0, 1}; }),
       "unsupported bitmap (run-length image too large for its file)"},
      {Fields([](BmpFields& s) { s.infoSize = 12, s.bits = 24, s.pixels = {1, 2}; }),
       "invalid bitmap (truncated pixel data)"},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(Problem(MakeBmp(c.fields)), c.reason);
  }

  // Offsets past the end of the file, up to the largest one the field holds.
  for (uint32_t off : {61u, 1u << 20, 0xFFFFFFFFu}) {
    std::vector<uint8_t> file = MakeBmp(BmpFields{});
    kt::Put32(file, 10, off);
    EXPECT_EQ(Problem(file), "invalid bitmap (truncated pixel data)") << off;
  }
  // A colour-table count that would reach past any file.
  std::vector<uint8_t> file =
      MakeBmp(Fields([](BmpFields& s) { s.bits = 8, s.palette = kt::MakePalette(256, false); }));
  kt::Put32(file, 46, 0xFFFFFFFFu);
  EXPECT_EQ(Problem(file), "invalid bitmap (pixel offset inside headers)");
}

TEST(BitmapFile, EveryTruncationIsRefused) {
  for (const BmpFields& s : {Fields([](BmpFields&) {}), Fields([](BmpFields& s) {
                             s.bits = 8, s.palette = kt::MakePalette(256, false);
                           })}) {
    const std::vector<uint8_t> file = MakeBmp(s);
    for (size_t n = 0; n < file.size(); ++n) {
      EXPECT_NE(kolvex::BitmapFileProblem(file.data(), n), nullptr) << n << " of " << file.size();
    }
    EXPECT_EQ(kolvex::BitmapFileProblem(file.data(), file.size()), nullptr);
  }
  EXPECT_STREQ(kolvex::BitmapFileProblem(nullptr, 0), "not a bitmap file (too short)");
}

}  // namespace
