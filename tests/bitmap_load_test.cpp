// CreateFromMemory and CreateFromFile: round trips, row order, colour
// conversions checked by hand, refusals and allocation failures.

#include "bmp_builder.h"
#include "io_support.h"

#include <climits>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

namespace {

using Load = kt::NoLeaks;
using kt::BmpFields;
using kt::MakeBmp;

std::vector<BYTE> Row(const CRZDIBBase2& dib, int stored) {
  const BYTE* p = dib.GetBytes() + static_cast<std::ptrdiff_t>(stored) * dib.DIBBytesPerLine();
  return std::vector<BYTE>(p, p + dib.DIBBytesPerLine());
}

TEST_F(Load, SavedBitmapsComeBackUnchangedFromMemoryAndFromDisk) {
  for (WORD bits : {8, 24, 32}) {
    for (int width : {1, 2, 3, 5}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, width " << width);
      CRZDIB2 src;
      ASSERT_TRUE(kt::CreateRandom(src, bits, width, 3, 1, bits + 7u * width));
      const std::vector<BYTE> file = kt::SaveToMemory(src);

      kt::CountingDib2 dib;
      ASSERT_TRUE(dib.CreateFromMemory(file.data(), file.size()));
      EXPECT_EQ(dib.DIBBitCount(), bits);
      EXPECT_EQ(dib.DIBWidth(), width);
      EXPECT_EQ(dib.DIBHeight(), 3);
      EXPECT_EQ(dib.GetRzBmiHeader()->biSize, 144u);
      EXPECT_TRUE(dib.IsNonInterlaced());
      EXPECT_EQ(kt::Pixels(dib), kt::Pixels(src));

      const kt::TempFile temp(file);
      kt::CountingDib2 fromDisk;
      ASSERT_TRUE(fromDisk.CreateFromFile(temp.path()));
      EXPECT_EQ(kt::Pixels(fromDisk), kt::Pixels(src));
    }
  }
}

TEST_F(Load, TopDownRowsAreStoredBottomUp) {
  const std::vector<uint8_t> file = MakeBmp(BmpFields{.width = 2, .height = -3});
  CRZDIB2 dib;
  ASSERT_TRUE(dib.CreateFromMemory(file.data(), file.size()));
  ASSERT_EQ(dib.DIBHeight(), 3);
  for (int r = 0; r < 3; ++r) {
    const auto* in = file.data() + 54 + 8 * (2 - r);  // the file's top row is stored last
    EXPECT_EQ(Row(dib, r), std::vector<BYTE>(in, in + 8)) << "row " << r;
  }
}

TEST_F(Load, IndexedAnd16BitFilesBecomeTheColoursTheyName) {
  const std::vector<uint8_t> twoColours = {10, 20, 30, 0, 200, 100, 50, 0};
  const std::vector<uint8_t> threeColours = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
  struct Case {
    BmpFields fields;
    std::vector<BYTE> row;  // blue, green, red per pixel, then the zeroed padding
  };
  const Case cases[] = {
      {{.width = 3, .height = 1, .bits = 1, .palette = twoColours, .pixels = {0xA0, 0, 0, 0}},
       {200, 100, 50, 10, 20, 30, 200, 100, 50, 0, 0, 0}},
      // Index 5 lies past a three-entry table: black.
      {{.width = 3, .height = 1, .bits = 4, .clrUsed = 3, .palette = threeColours,
        .pixels = {0x21, 0x50, 0, 0}},
       {7, 8, 9, 4, 5, 6, 0, 0, 0, 0, 0, 0}},
      {{.width = 2, .height = 1, .bits = 8, .clrUsed = 3, .palette = threeColours,
        .pixels = {2, 0, 0, 0}},
       {7, 8, 9, 1, 2, 3, 0, 0}},
      {{.width = 4, .height = 1, .bits = 16, .pixels = {0xFF, 0x7F, 0x1F, 0, 0xE0, 0x03, 0x10, 0x42}},
       {255, 255, 255, 255, 0, 0, 0, 255, 0, 132, 132, 132}},
      {{.width = 3, .height = 1, .bits = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F},
        .pixels = {0, 0xF8, 0xE0, 0x07, 0x20, 0, 0, 0}},
       {0, 0, 255, 0, 255, 0, 0, 4, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fields.bits << " bits");
    const std::vector<uint8_t> file = MakeBmp(c.fields);
    CRZDIB2 dib;
    ASSERT_TRUE(dib.CreateFromMemory(file.data(), file.size()));
    EXPECT_EQ(dib.DIBBitCount(), 24);
    EXPECT_EQ(Row(dib, 0), c.row);
  }
  // A grey-ramp table leaves 8-bit values as they are.
  const std::vector<uint8_t> grey =
      MakeBmp(BmpFields{.width = 4, .height = 1, .bits = 8, .palette = kt::MakePalette(256, true),
                      .pixels = {9, 0, 255, 77}});
  CRZDIB2 dib;
  ASSERT_TRUE(dib.CreateFromMemory(grey.data(), grey.size()));
  EXPECT_EQ(dib.DIBBitCount(), 8);
  EXPECT_EQ(Row(dib, 0), (std::vector<BYTE>{9, 0, 255, 77}));
}

// Every kind of broken file: refused, and the previous bitmap is gone.
TEST_F(Load, RefusalsLeaveTheBitmapEmpty) {
  const BmpFields refused[] = {
      {.signature = false},
      {.width = 0},
      {.width = -3},
      {.height = 0},
      {.height = INT_MIN, .pixels = {1}},
      {.width = 100000, .height = 100000, .bits = 32, .pixels = {1}},  // image over 31 bits
      {.width = 1 << 30, .pixels = {1}},
      {.bits = 8, .compression = 1},
      {.bits = 2},
      {.pixels = std::vector<uint8_t>(23)},  // one byte short of the image
  };
  for (const BmpFields& s : refused) {
    kt::CountingDib2 dib;
    ASSERT_TRUE(dib.Create(24, 4, 4, 1));
    const std::vector<uint8_t> file = MakeBmp(s);
    EXPECT_FALSE(dib.CreateFromMemory(file.data(), file.size()));
    EXPECT_FALSE(dib.IsValidDIB());
    ASSERT_TRUE(dib.Create(24, 4, 4, 1));
    EXPECT_FALSE(dib.CreateFromMemory(file.data(), 53));  // truncated into the headers
    EXPECT_FALSE(dib.IsValidDIB());
  }
  kt::CountingDib2 dib;
  EXPECT_FALSE(dib.CreateFromFile("/nonexistent/kolvex.bmp"));
  EXPECT_FALSE(dib.CreateFromFile(std::filesystem::temp_directory_path().string().c_str()));
  EXPECT_FALSE(dib.CreateFromFile(nullptr));
  EXPECT_FALSE(dib.CreateFromMemory(nullptr, 0));
}

// Through CFile: the bytes from the file's position to its end, the reason
// for a refusal, and a failing read reaching the caller.
TEST_F(Load, AnOpenFileIsReadFromItsPositionWithTheReason) {
  const std::vector<uint8_t> bmp = MakeBmp(BmpFields{.width = 3, .height = 2});
  CMemFile file;
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
  CRZDIB2 fromMemory;
  ASSERT_TRUE(fromMemory.CreateFromMemory(bmp.data(), bmp.size()));
  EXPECT_EQ(kt::Pixels(dib), kt::Pixels(fromMemory));

  struct HugeFile : CMemFile {
    ULONGLONG GetLength() const override { return (ULONGLONG{1} << 31) + 1; }
  } huge;
  EXPECT_FALSE(dib.CreateFromFile(huge, &why));  // refused before a byte is read
  EXPECT_STREQ(why, "not a bitmap file (too large)");

  struct BrokenFile : CMemFile {
    UINT Read(void*, UINT) override { AfxThrowFileException(CFileException::hardIO); }
  } broken;
  ASSERT_TRUE(dib.CreateFromMemory(bmp.data(), bmp.size()));
  bool thrown = false;
  try {
    dib.CreateFromFile(broken);
  } catch (CFileException* e) {
    thrown = e->m_cause == CFileException::hardIO;
    e->Delete();
  }
  EXPECT_TRUE(thrown);
  EXPECT_FALSE(dib.IsValidDIB());
}

// Runs `attempt` on a thread of its own and answers whether it returned
// within five seconds; one still waiting then is released through the pipe,
// so that a regression fails the test instead of hanging it.
bool ReturnsAtOnce(kt::QuietPipe& pipe, const std::function<void()>& attempt) {
  std::promise<void> returned;
  std::future<void> done = returned.get_future();
  std::thread runner([&] {
    attempt();
    returned.set_value();
  });
  const bool inTime = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!inTime) pipe.Release();
  runner.join();
  return inTime;
}

// A named pipe is refused at once, with or without a writer at its other end:
// neither the open nor the load may wait for one. So is a directory, where the
// system opens one.
TEST_F(Load, NamedPipesAndDirectoriesAreRefusedWithoutWaiting) {
  for (bool writer : {false, true}) {
    SCOPED_TRACE(writer ? "a writer that sends nothing" : "no writer");
    kt::CountingDib2 dib;
    bool loaded = true;
    {
      kt::QuietPipe pipe(writer);
      EXPECT_TRUE(ReturnsAtOnce(pipe, [&] { loaded = dib.CreateFromFile(pipe.path()); }));
      EXPECT_FALSE(loaded);
    }
    kt::QuietPipe pipe(writer);
    CFile file;
    BOOL opened = FALSE;
    ASSERT_TRUE(ReturnsAtOnce(pipe, [&] { opened = file.Open(pipe.path(), CFile::modeRead); }));
    ASSERT_TRUE(opened);
    EXPECT_FALSE(file.IsRegularFile());
    const char* why = nullptr;
    EXPECT_TRUE(ReturnsAtOnce(pipe, [&] {
      loaded = kt::Throws<CFileException>([&] { dib.CreateFromFile(file, &why); }) || dib.IsValidDIB();
    }));
    EXPECT_FALSE(loaded) << "threw, or loaded";
    EXPECT_STREQ(why, "not a regular file");
  }
  CFile directory;
  if (directory.Open(std::filesystem::temp_directory_path().string().c_str(), CFile::modeRead)) {
    kt::CountingDib2 dib;
    const char* why = nullptr;
    EXPECT_FALSE(kt::Throws<CFileException>([&] { dib.CreateFromFile(directory, &why); }));
    EXPECT_STREQ(why, "not a regular file");
  }
}

TEST_F(Load, EveryAllocationFailingInTurnFailsCleanly) {
  const std::vector<uint8_t> file = MakeBmp(BmpFields{.width = 5, .height = -3, .bits = 16});
  const kt::TempFile temp(file);
  for (bool fromDisk : {false, true}) {
    kt::CountingDib2 dib;
    kt::FailEachAllocationInTurn(
        [&] { return fromDisk ? dib.CreateFromFile(temp.path()) : dib.CreateFromMemory(file.data(), file.size()); },
        [&](int n, bool loaded) { EXPECT_EQ(dib.IsValidDIB(), loaded) << n; });
  }
}

}  // namespace
