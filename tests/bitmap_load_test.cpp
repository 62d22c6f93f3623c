// CreateFromMemory and CreateFromFile: refusals and their reasons, reads through CFile, named
// pipes.

#include "bmp_builder.h"
#include "io_support.h"

#include <climits>
#include <filesystem>
#include <future>

namespace {

using Load = kt::NoLeaks;
using kt::BmpFields;
using kt::MakeBmp;

std::string Problem(const std::vector<uint8_t>& file, std::size_t size) {
  const char* why = kolvex::BitmapFileProblem(file.data(), size);
  return why ? why : "";
}

// Each refusal's reason, from the bytes and from a file load (before any later allocation), which
// empties the bitmap.
TEST_F(Load, RefusalsGiveTheirReasonAndLeaveTheBitmapEmpty) {
  const auto p2 = kt::MakePalette(2, false), p16 = kt::MakePalette(16, false),
             p256 = kt::MakePalette(256, false);
  const char* masks = "invalid bitmap (bit-field masks)";
  const char* inside = "invalid bitmap (pixel offset inside headers)";
  const char* truncated = "invalid bitmap (truncated pixel data)";
  const char* outside = "invalid bitmap (run-length data outside the image)";
  const char* cut = "invalid bitmap (run-length data truncated)";
  auto rle = [&](std::vector<uint8_t> stream, uint16_t bits = 8) {
    return BmpFields{.width = 5,
                     .height = 3,
                     .bits = bits,
                     .compression = bits == 4 ? 2u : 1u,
                     .palette = bits == 4 ? p16 : p256,
                     .pixels = std::move(stream)};
  };
  const std::pair<BmpFields, const char*> refused[] = {
      {{.signature = false}, "not a bitmap file (no BM signature)"},
      {{.infoSize = 18}, "unsupported bitmap (info header size)"},
      {{.width = 0}, "invalid bitmap (width not positive)"},
      {{.height = 0}, "invalid bitmap (height)"},
      {{.height = INT_MIN, .pixels = {1}}, "invalid bitmap (height)"},
      {{.bits = 3}, "unsupported bitmap (bit count)"},
      {{.bits = 64}, "unsupported bitmap (64 bits per pixel)"},
      {{.compression = 4}, "unsupported bitmap (embedded JPEG)"},
      {{.compression = 5}, "unsupported bitmap (embedded PNG)"},
      {{.compression = 7}, "unsupported bitmap (compression)"},
      {{.bits = 1, .compression = 3, .infoSize = 64, .palette = p2},
       "unsupported bitmap (OS/2 Huffman compression)"},
      {{.compression = 4, .infoSize = 64}, "unsupported bitmap (OS/2 RLE24 compression)"},
      {{.bits = 4, .compression = 1, .palette = p16},
       "invalid bitmap (compression and bit count disagree)"},
      {{.height = -2, .bits = 8, .compression = 1, .pixels = {0, 1}},
       "invalid bitmap (top-down run-length image)"},
      {{.compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}},
       "invalid bitmap (bit fields need 16 or 32 bits)"},
      // Masks not contiguous, outside the pixel, overlapping, without colour.
      {{.bits = 16, .compression = 3, .masks = {0xF0F0, 0x0F00, 0x000F}}, masks},
      {{.bits = 16, .compression = 3, .masks = {0x1F800, 0x07E0, 0x001F}}, masks},
      {{.bits = 32, .compression = 3, .masks = {0xFF, 0xFF00, 0xFF80}}, masks},
      {{.bits = 32, .compression = 3, .masks = {0, 0, 0}}, masks},
      {{.offBits = 20}, inside},
      {{.bits = 8, .palette = p256, .offBits = 14 + 40 + 1024 - 1},
       inside},               // one byte into the table
      {{.bits = 4}, inside},  // no table where one must be
      {{.bits = 4, .infoSize = 12, .offBits = 26}, "invalid bitmap (no colour table)"},
      {{.pixels = std::vector<uint8_t>(23)}, truncated},
      {{.bits = 24, .infoSize = 12, .pixels = {1, 2}}, truncated},
      {{.width = 100000000, .height = 1, .bits = 1, .palette = p2, .pixels = {1}}, truncated},
      {{.width = 1 << 30, .pixels = {1, 2, 3}}, "unsupported bitmap (too large)"},
      {{.width = 20000, .height = 20000, .bits = 8, .compression = 1, .pixels = {0, 1}},
       "unsupported bitmap (run-length image too large for its file)"},
      // 5 x 3 run-length images: runs and deltas past the row or the top, codes after it, streams
      // cut short.
      {rle({9, 1, 0, 1}), outside},
      {rle({9, 0x11, 0, 1}, 4), outside},
      {rle({0, 2, 9, 0, 0, 1}), outside},
      {rle({0, 2, 0, 3, 0, 1}), outside},
      {rle({0, 0, 0, 0, 0, 0, 1, 1, 0, 1}), outside},
      {rle({5, 1}), cut},
      {rle({0, 5, 1, 2}), cut},
  };
  for (const auto& [fields, reason] : refused) {
    SCOPED_TRACE(reason);
    const std::vector<uint8_t> file = MakeBmp(fields);
    EXPECT_EQ(Problem(file, file.size()), reason);
    CMemFile in;
    in.Write(file.data(), static_cast<UINT>(file.size()));
    in.SeekToBegin();
    kt::CountingDib2 dib;
    ASSERT_TRUE(dib.Create(24, 4, 4, 1));
    kt::FailAllocations onlyTheReadBuffer(2);  // its pages: reserved, then committed
    const char* why = nullptr;
    EXPECT_FALSE(dib.CreateFromFile(in, &why));
    EXPECT_STREQ(why, reason);
    EXPECT_FALSE(dib.IsValidDIB());
  }
  // Offsets past the end up to the largest the field holds; a colour-table count past any file.
  for (uint32_t off : {61u, 1u << 20, 0xFFFFFFFFu}) {
    std::vector<uint8_t> file = MakeBmp(BmpFields{});
    kt::PutLittleEndian(file, 10, off);
    EXPECT_EQ(Problem(file, file.size()), truncated) << off;
  }
  std::vector<uint8_t> file = MakeBmp(BmpFields{.bits = 8, .palette = p256});
  kt::PutLittleEndian(file, 46, 0xFFFFFFFFu);
  EXPECT_EQ(Problem(file, file.size()), inside);
  for (const std::vector<uint8_t>& whole :
       {MakeBmp(BmpFields{}), MakeBmp(BmpFields{.bits = 8, .palette = p256})}) {
    for (std::size_t n = 0; n < whole.size(); ++n) {
      CRZDIB2 dib;
      EXPECT_NE(Problem(whole, n), "") << n;
      EXPECT_FALSE(dib.CreateFromMemory(whole.data(), n)) << n;
    }
    EXPECT_EQ(Problem(whole, whole.size()), "");
  }
  EXPECT_STREQ(kolvex::BitmapFileProblem(nullptr, 0), "not a bitmap file (too short)");
  kt::CountingDib2 dib;
  EXPECT_FALSE(dib.CreateFromFile("/nonexistent/kolvex.bmp"));
  EXPECT_FALSE(dib.CreateFromFile(std::filesystem::temp_directory_path().string().c_str()));
  EXPECT_FALSE(dib.CreateFromFile(nullptr));
  EXPECT_FALSE(dib.CreateFromMemory(nullptr, 0));
}

// The length a file header gives its file, for a stream of files: the core header's 26 bytes at
// least, 2 GiB - 1 at most, "BM" first.
TEST(StreamOfFiles, TheFileHeaderGivesTheLengthOrZero) {
  const std::tuple<const char*, std::uint32_t, std::uint32_t> cases[] = {
      {"BM", 26, 26},      {"BM", 25, 0},  {"BM", 0x7FFFFFFF, 0x7FFFFFFF},
      {"BM", 1u << 31, 0}, {"MB", 198, 0}, {"BA", 198, 0}};
  for (const auto& [signature, length, declared] : cases) {
    std::vector<uint8_t> head = MakeBmp({});
    head.resize(kolvex::kBitmapFileHeaderBytes);
    std::memcpy(head.data(), signature, 2);
    kt::PutLittleEndian(head, 2, length);
    EXPECT_EQ(kolvex::DeclaredBitmapFileBytes(head.data()), declared) << signature << " " << length;
  }
}

// Through CFile: from the file's position, with the reason for a refusal; a failing read reaches
// the caller. A 2 GiB - 1 byte file promising 690 MB is described from its head; one byte more is
// refused unread.
TEST_F(Load, OpenFilesAreReadFromTheirPositionWithTheReason) {
  struct File : CMemFile {
    ULONGLONG GetLength() const override { return length != 0 ? length : CMemFile::GetLength(); }
    UINT Read(void* buffer, UINT count) override {
      return requested += count, CMemFile::Read(buffer, count);
    }
    ULONGLONG length = 0;
    ULONGLONG requested = 0;
  } file, huge;
  const std::vector<uint8_t> bmp = MakeBmp(BmpFields{.width = 3, .height = 2});
  file.Write("xyz", 3);
  file.Write(bmp.data(), static_cast<UINT>(bmp.size()));
  file.SeekToBegin();
  kt::CountingDib2 dib;
  const char* why = "unset";
  EXPECT_FALSE(dib.CreateFromFile(file, &why));
  EXPECT_STREQ(why, "not a bitmap file (no BM signature)");
  file.Seek(3, CFile::begin);
  ASSERT_TRUE(dib.CreateFromFile(file, &why));
  EXPECT_EQ(why, nullptr);
  EXPECT_TRUE(std::equal(bmp.end() - 24, bmp.end(), dib.GetBytes()));

  struct BrokenFile : CMemFile {
    UINT Read(void*, UINT) override { AfxThrowFileException(CFileException::hardIO); }
  } broken;
  int cause = 0;
  EXPECT_TRUE(kt::Throws<CFileException>([&] { dib.CreateFromFile(broken); }, &cause));
  EXPECT_EQ(cause, CFileException::hardIO);
  EXPECT_FALSE(dib.IsValidDIB());

  const std::vector<uint8_t> head =
      MakeBmp(BmpFields{.width = 23000, .height = 10000, .pixels = std::vector<uint8_t>(2000)});
  huge.Write(head.data(), static_cast<UINT>(head.size()));
  huge.SeekToBegin();
  huge.length = (ULONGLONG{1} << 31) - 1;
  kolvex::BitmapFileFormat f;
  ASSERT_EQ(kolvex::DescribeBitmapFile(huge, f), nullptr);
  EXPECT_LE(huge.requested, kolvex::kBitmapFileHeadBytes);
  EXPECT_EQ(f.loadedBytes, 69000u * 10000u);
  EXPECT_STREQ(f.headerKind, "BITMAPINFOHEADER");
  huge.length += 1;
  huge.requested = 0;
  huge.SeekToBegin();
  EXPECT_FALSE(dib.CreateFromFile(huge, &why));
  EXPECT_STREQ(why, "not a bitmap file (too large)");
  EXPECT_EQ(huge.requested, 0u);
}

// A named pipe is refused at once, with or without a writer (after five seconds the pipe releases a
// load still waiting, so that a regression fails instead of hanging).
TEST_F(Load, NamedPipesAreRefusedWithoutWaiting) {
  for (bool writer : {false, true}) {
    kt::QuietPipe pipe(writer);
    kt::CountingDib2 dib;
    std::future<bool> loaded =
        std::async(std::launch::async, [&] { return dib.CreateFromFile(pipe.path()); });
    const bool inTime = loaded.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!inTime) pipe.Release();
    EXPECT_TRUE(inTime) << writer;
    EXPECT_FALSE(loaded.get()) << writer;
  }
}

}  // namespace
