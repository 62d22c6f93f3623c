// The Win32 and MFC names as the library relies on them, on both systems (the
// stand-in on Linux, the system's own calls on Windows): DIB-section refusals,
// page-granular virtual memory, the CDC's ownership and files.

#include "io_support.h"

#include <cstdio>

namespace {

using kt::Info;

// Every test must release every GDI object it made.
using Platform = kt::NoLeaks;

TEST_F(Platform, CreateDIBSectionRefusesWhatItCannotMake) {
  void* bits = reinterpret_cast<void*>(1);
  for (const BITMAPINFO& bmi : {Info(0, 4, 24), Info(-3, 4, 24), Info(4, 0, 24), Info(4, 4, 2),
                                Info(70000, 70000, 32)}) {
    EXPECT_EQ(CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(bits, nullptr);
  }
}

TEST(PlatformKernel, VirtualAllocReservesAndCommitsWholePages) {
  BYTE* base = static_cast<BYTE*>(VirtualAlloc(nullptr, 3 * 4096 - 5, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(kt::VirtualExtents(base).reserved, 3u * 4096);
  // 10 bytes straddling the first page boundary commit two pages.
  EXPECT_EQ(VirtualAlloc(base + 4090, 10, MEM_COMMIT, PAGE_READWRITE), base);
  EXPECT_EQ(kt::VirtualExtents(base).committed, 2u * 4096);
  MEMORY_BASIC_INFORMATION info{};
  ASSERT_EQ(VirtualQuery(base + 5000, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.BaseAddress, base + 4096);
  EXPECT_EQ(info.RegionSize, 4096u);
  base[8191] = 7;
  EXPECT_TRUE(VirtualFree(base + 4096, 1, MEM_DECOMMIT));
  EXPECT_EQ(VirtualAlloc(base + 4096, 1, MEM_COMMIT, PAGE_READWRITE), base + 4096);
  EXPECT_EQ(base[8191], 0);  // a recommitted page reads zero again
  EXPECT_FALSE(VirtualFree(base + 4096, 0, MEM_RELEASE));  // not the start
  EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
  ASSERT_EQ(VirtualQuery(base, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
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
  const kt::TempFile temp;
  const char* path = temp.path();
  {
    CFile f(path, CFile::modeCreate | CFile::modeReadWrite);
    f.Write("abcdef", 6);
    EXPECT_EQ(f.Seek(-4, CFile::end), 2u);
    char buf[8] = {};
    EXPECT_EQ(f.Read(buf, 8), 4u);
    EXPECT_STREQ(buf, "cdef");
  }
  std::remove(path);
  CFileException error;
  CFile missing;
  EXPECT_FALSE(missing.Open(path, CFile::modeRead, &error));
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
