// CreateFromMemory and CreateFromFile: row order, reads through CFile, named
// pipes and allocation failures.

#include "bmp_builder.h"
#include "io_support.h"

#include <filesystem>
#include <functional>
#include <future>
#include <thread>

namespace {

using Load = kt::NoLeaks;
using kt::BmpFields;
using kt::MakeBmp;

// Top-down rows are stored bottom-up; 8-bit values without a colour table,
// or with the grey ramp, stay as they are.
TEST_F(Load, RowsOfEveryOrderAndGreyLevelsKeepTheirBytes) {
  for (const BmpFields& fields : {BmpFields{.width = 2, .height = -3}, BmpFields{.width = 5, .height = 3, .bits = 8},
                                  BmpFields{.width = 5, .height = -3, .bits = 8, .palette = kt::MakePalette(256, true)}}) {
    SCOPED_TRACE(fields.bits);
    const std::vector<uint8_t> file = MakeBmp(fields);
    CRZDIB2 dib;
    ASSERT_TRUE(dib.CreateFromMemory(file.data(), file.size()));
    ASSERT_EQ(dib.DIBBitCount(), fields.bits);
    const auto stride = static_cast<std::ptrdiff_t>(kt::BmpStride(fields.bits, fields.width));
    for (int r = 0; r < 3; ++r) {
      const int from = fields.height < 0 ? r : 2 - r;  // file rows counted from the end
      EXPECT_TRUE(std::equal(file.end() - (from + 1) * stride, file.end() - from * stride,
                             dib.GetBytes() + r * dib.DIBBytesPerLine())) << "row " << r;
    }
  }
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
  int cause = 0;
  EXPECT_TRUE(kt::Throws<CFileException>([&] { dib.CreateFromFile(broken); }, &cause));
  EXPECT_EQ(cause, CFileException::hardIO);
  EXPECT_FALSE(dib.IsValidDIB());
}

// Whether `attempt`, run on a thread of its own, returns within five seconds;
// one still waiting then is released through the pipe, so that a regression
// fails the test instead of hanging it.
bool ReturnsAtOnce(kt::QuietPipe& pipe, const std::function<void()>& attempt) {
  std::future<void> done = std::async(std::launch::async, attempt);
  const bool inTime = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!inTime) pipe.Release();
  done.wait();
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
