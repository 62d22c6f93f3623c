// SaveAs: the exact layout, the grey table, failing writes, read-back by another decoder and the
// loader; the MFC file classes it writes through, on both systems.

#include "io_support.h"

#include <cerrno>
#include <cstdio>

namespace {

using Save = kt::NoLeaks;
using kt::Get32;
using kt::SaveToMemory;

// Every header field, a grey ramp then zeros (sized by the depth or biClrUsed), the rows; the
// bitmap kept.
TEST_F(Save, FilesHoldTheHeaderFieldsAGreyTableAndTheRowsAsStored) {
  struct Case {
    WORD bits;
    DWORD clrUsed;
    std::uint32_t table;
  };
  for (const Case c : {Case{24, 0, 0}, Case{8, 0, 1024}, Case{4, 0, 64}, Case{1, 0, 8},
                       Case{8, 300, 1200}, Case{4, 3, 12}, Case{24, 2, 8}, Case{32, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, biClrUsed " << c.clrUsed);
    kt::CountingDib2 dib;
    ASSERT_TRUE(kt::CreateRandom(dib, c.bits, 5, 3, 1, c.bits));
    dib.GetRzBmiHeader()->biClrUsed = c.clrUsed;
    dib.GetRzBmiHeader()->biXPelsPerMeter = 2835;
    dib.GetRzBmiHeader()->dwAlphaFlag = 3;
    const tagRZBMINFOHEADER before = *dib.GetRzBmiHeader();
    const std::vector<BYTE> f = SaveToMemory(dib);
    const auto image = static_cast<std::uint32_t>(kt::Stride(c.bits, 5) * 3);
    ASSERT_EQ(f.size(), 54 + c.table + image);
    EXPECT_TRUE(f[0] == 'B' && f[1] == 'M');
    const std::pair<std::size_t, std::uint32_t> fields[] = {{2, 54 + c.table + image},
                                                            {6, 0},
                                                            {10, 54 + c.table},
                                                            {14, 40},
                                                            {18, 5},
                                                            {22, 3},
                                                            {26, 1u | c.bits << 16},
                                                            {30, 0},
                                                            {34, image},
                                                            {38, 2835},
                                                            {42, 0},
                                                            {46, c.clrUsed},
                                                            {50, 0}};
    for (const auto& [at, value] : fields) EXPECT_EQ(Get32(f, at), value) << "offset " << at;
    const std::size_t levels = c.bits <= 8 ? std::size_t{1} << c.bits : 0;
    for (std::size_t i = 0; i < c.table / 4; ++i) {
      const std::uint32_t level =
          i < levels ? static_cast<std::uint32_t>(i * 255 / (levels - 1)) : 0;
      ASSERT_EQ(Get32(f, 54 + 4 * i), level * 0x010101u) << "entry " << i;
    }
    EXPECT_TRUE(std::equal(f.begin() + 54 + c.table, f.end(), dib.GetBytes()));
    EXPECT_EQ(std::memcmp(&before, dib.GetRzBmiHeader(), sizeof before), 0);
    CMemFile file;  // written at the file position, one file after another
    file.Write("xy", 2);
    ASSERT_TRUE(dib.SaveAs(file) && dib.SaveAs(file));
    std::vector<BYTE> all(2 + 2 * f.size() + 1);
    file.SeekToBegin();
    ASSERT_EQ(file.Read(all.data(), static_cast<UINT>(all.size())), all.size() - 1);
    EXPECT_TRUE(std::equal(f.begin(), f.end(), all.begin() + 2) &&
                std::equal(f.begin(), f.end(), all.begin() + 2 + f.size()));
    if (c.bits < 8 || c.clrUsed != 0) continue;
    // Read back by an independent decoder and by the loader.
    const kt::TempFile disk(f);
    kt::DecodedBitmap seen;
    ASSERT_TRUE(kt::DecodeIndependently(disk.path(), seen) && seen.width == 5 && seen.height == 3);
    for (int i = 0; i < 15; ++i) ASSERT_EQ(seen.pixels[i], kt::Shown(dib, i % 5, i / 5)) << i;
    kt::CountingDib2 loaded;
    ASSERT_TRUE(loaded.CreateFromFile(disk.path()));
    EXPECT_TRUE(loaded.DIBBitCount() == c.bits &&
                loaded.GetRzBmiHeader()->biSize == kt::kHeaderBytes && loaded.IsNonInterlaced());
    EXPECT_EQ(kt::Pixels(loaded), kt::Pixels(dib));
  }
}

// With alpha: a version-5 header with masks B, G, R, A that the loader reads back with alpha;
// depths without alpha exactly as SaveAs writes them. (PIL reads the tool's RGBA outputs.)
TEST_F(Save, WithAlphaA32BitFileNamesByte3AlphaAndOtherDepthsAreSaveAs) {
  kt::CountingDib2 dib, loaded;
  ASSERT_TRUE(kt::CreateRandom(dib, 32, 5, 3, 1, 7));
  dib.SetAlphaValid(false);  // written with alpha all the same: the caller decides
  const std::vector<BYTE> f = SaveToMemory(dib, true);
  ASSERT_EQ(f.size(), 14 + 124 + 60u);
  EXPECT_EQ(std::tuple(Get32(f, 10), Get32(f, 14), Get32(f, 30), Get32(f, 66), Get32(f, 70)),
            std::tuple(138u, 124u, 3u, 0xFF000000u, 0x73524742u));  // 'sRGB'
  ASSERT_TRUE(loaded.CreateFromMemory(f.data(), f.size()));
  EXPECT_TRUE(loaded.DIBBitCount() == 32 && !loaded.IsAlphaInvalid());
  EXPECT_EQ(kt::Pixels(loaded), kt::Pixels(dib));
  for (WORD bits : {1, 8, 24}) {
    ASSERT_TRUE(kt::CreateRandom(dib, bits, 5, 3, 1, bits));
    EXPECT_EQ(SaveToMemory(dib, true), SaveToMemory(dib)) << bits << " bits";
  }
}

TEST_F(Save, FailsWithoutPixelsOrWhenAWriteThrowsAndLeavesTheBitmapAlone) {
  CRZDIB2 empty;
  CMemFile nothing;
  EXPECT_FALSE(empty.SaveAs(nothing) || kolvex::SaveWithAlpha(empty, nothing));
  EXPECT_EQ(nothing.GetLength(), 0u);

  kt::CountingDib2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 8, 5, 3, 1, 3));
  const tagRZBMINFOHEADER header = *dib.GetRzBmiHeader();
  const std::vector<BYTE> pixels = kt::Pixels(dib);
  struct FullFile : CMemFile {  // throws the file exception once `budget` bytes are used
    void Write(const void* p, UINT n) override {
      if (n > budget) AfxThrowFileException(CFileException::diskFull, ENOSPC);
      budget -= n;
      CMemFile::Write(p, n);
    }
    std::size_t budget = 0;
  };
  for (std::size_t budget : {0, 14, 14 + 1064}) {  // each of the three writes fails in turn
    FullFile file;
    file.budget = budget;
    EXPECT_FALSE(dib.SaveAs(file)) << budget;
    EXPECT_EQ(file.GetLength(), budget);
  }
  kt::CountingDib2 alpha;
  ASSERT_TRUE(kt::CreateRandom(alpha, 32, 5, 3, 1, 3));
  FullFile file;  // the header's write fails
  file.budget = 20;
  EXPECT_FALSE(kolvex::SaveWithAlpha(alpha, file));
  {
    kt::FailAllocations fail(0);  // the colour-table buffer
    CMemFile file;
    EXPECT_FALSE(dib.SaveAs(file));
  }
  EXPECT_EQ(std::memcmp(&header, dib.GetRzBmiHeader(), sizeof header), 0);
  EXPECT_EQ(kt::Pixels(dib), pixels);
}

// Reads, writes and seeks; failures reported by exception.
TEST(PlatformMfc, FilesReadWriteSeekAndReportFailureByException) {
  const kt::TempFile file;
  {
    CFile f(file.path(), CFile::modeCreate | CFile::modeReadWrite);
    f.Write("abcdef", 6);
    EXPECT_EQ(f.Seek(-4, CFile::end), 2u);
    char buf[8] = {};
    EXPECT_EQ(f.Read(buf, 8), 4u);
    EXPECT_STREQ(buf, "cdef");
  }
  std::remove(file.path());
  CFileException error;
  CFile missing;
  EXPECT_FALSE(missing.Open(file.path(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  if (const std::string device = kt::FullDevice(); !device.empty()) {
    CFile full(device.c_str(), CFile::modeWrite);
    int cause = -1;
    EXPECT_TRUE(kt::Throws<CFileException>([&] { full.Write("x", 1); }, &cause));
    EXPECT_EQ(cause, CFileException::diskFull);
  }

  CMemFile mem(4);
  mem.Write("0123456789", 10);
  mem.Seek(12, CFile::begin);
  mem.Write("!", 1);  // the gap reads as zeros
  mem.SeekToBegin();
  char all[14] = {};
  EXPECT_EQ(mem.Read(all, 14), 13u);
  EXPECT_EQ(std::memcmp(all, "0123456789\0\0!", 13), 0);
  EXPECT_TRUE(kt::Throws<CFileException>([&] { mem.Seek(-1, CFile::begin); }));
  kt::FailAllocations fail(0);
  EXPECT_TRUE(kt::Throws<CMemoryException>([&] { mem.Write(all, 13); }));  // growth allocates
}

}  // namespace
