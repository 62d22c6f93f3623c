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
