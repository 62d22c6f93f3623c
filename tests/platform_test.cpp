// The Win32 and MFC names as the library relies on them, on both systems (the
// stand-in on Linux, the system's own calls on Windows): DIB-section refusals,
// the CDC's ownership and files.

#include "io_support.h"

#include <cstdio>

namespace {

using kt::Info;

// Every test must release every GDI object it made.
using Platform = kt::NoLeaks;

TEST_F(Platform, CreateDIBSectionRefusesWhatItCannotMake) {
  void* bits = reinterpret_cast<void*>(1);
  for (const BITMAPINFO& bmi :
       {Info(0, 4, 24), Info(-3, 4, 24), Info(4, 0, 24), Info(4, 4, 2), Info(70000, 70000, 32)}) {
    EXPECT_EQ(CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(bits, nullptr);
  }
}

TEST(PlatformMfc, DeviceContextObjectOwnsWhatItWraps) {
  const DWORD start = kt::GdiObjects();
  {
    CDC dc;
    EXPECT_FALSE(dc.Attach(nullptr));
    ASSERT_TRUE(dc.Attach(CreateCompatibleDC(nullptr)));
    EXPECT_FALSE(dc.Attach(dc.GetSafeHdc()));  // already wrapping one
  }
  EXPECT_EQ(kt::GdiObjects(), start);  // the destructor deleted what it wrapped
  CDC dc;
  ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
  HDC detached = dc.Detach();
  EXPECT_FALSE(dc.DeleteDC());
  EXPECT_TRUE(DeleteDC(detached));  // the caller's again
}

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
