// MFC classes that the library and its clients use: CDC, CRect, CPalette, the
// module state, and the file classes with their exception.
//
// Ownership: a CDC owns the DC handle it wraps and deletes it (DeleteDC) when
// it is destroyed still wrapping it; Detach hands the handle back. A CFile
// owns its file handle and closes it on destruction; a CMemFile owns its buffer
// until Detach. Exceptions are thrown by pointer, as MFC throws them; the
// catcher calls Delete() on them.
//
// Threading: none of these objects locks; use one object from one thread at a
// time. The module state is read-only after start-up.
#pragma once

#include <kolvex/platform/exceptions.h>
#include <kolvex/platform/export.h>
#include <kolvex/platform/win32.h>

#include <cstddef>
#include <cstdint>

// ---- Device context ----

class KOLVEX_API CDC {
 public:
  HDC m_hDC = nullptr;

  CDC() = default;
  virtual ~CDC();  // deletes the DC it still wraps
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  HDC GetSafeHdc() const { return m_hDC; }
  operator HDC() const { return m_hDC; }

  // Wraps hDC. FALSE for a null handle or when a DC is already wrapped.
  BOOL Attach(HDC hDC);
  // Stops wrapping and answers the handle, which the caller now owns.
  HDC Detach();
  // Deletes the wrapped DC; FALSE when there is none or GDI refuses.
  BOOL DeleteDC();
  // Wraps a new memory DC compatible with pDC (null: the screen).
  BOOL CreateCompatibleDC(CDC* pDC);

  int SetStretchBltMode(int nStretchMode);
  int GetStretchBltMode() const;
  BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, DWORD dwRop);
  BOOL StretchBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                  int nSrcWidth, int nSrcHeight, DWORD dwRop);
};

// ---- Rectangles ----

class CRect : public RECT {
 public:
  CRect() noexcept : RECT{0, 0, 0, 0} {}
  CRect(int l, int t, int r, int b) noexcept : RECT{l, t, r, b} {}
  CRect(const RECT& r) noexcept : RECT(r) {}
  CRect(LPCRECT p) noexcept : RECT(*p) {}

  // Computed with wrap-around, as 32-bit Windows does; never undefined.
  int Width() const { return static_cast<int>(std::int64_t{right} - left); }
  int Height() const { return static_cast<int>(std::int64_t{bottom} - top); }
  // Empty: no area (right <= left or bottom <= top).
  BOOL IsRectEmpty() const { return right <= left || bottom <= top; }
  BOOL IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  void SetRect(int l, int t, int r, int b) { *static_cast<RECT*>(this) = RECT{l, t, r, b}; }
  void SetRectEmpty() { SetRect(0, 0, 0, 0); }

  operator LPRECT() { return this; }
  operator LPCRECT() const { return this; }
  bool operator==(const RECT& r) const {
    return left == r.left && top == r.top && right == r.right && bottom == r.bottom;
  }
  // Symmetric, so that C++20's reversed candidates leave a == b unambiguous.
  friend bool operator==(const CRect& a, const CRect& b) {
    return a == static_cast<const RECT&>(b);
  }
};

// ---- Palette: opaque; drawing takes one and ignores it ----

class CPalette {
 public:
  HPALETTE m_hObject = nullptr;
  HPALETTE GetSafeHandle() const { return m_hObject; }
  operator HPALETTE() const { return m_hObject; }
};

// ---- Module state ----

struct AFX_MODULE_STATE {
  HINSTANCE m_hCurrentInstanceHandle;  // the process module, GetModuleHandleA(nullptr)
  HINSTANCE m_hCurrentResourceHandle;  // where resources are looked up; the same
};

KOLVEX_API AFX_MODULE_STATE* AfxGetModuleState();
KOLVEX_API HINSTANCE AfxGetInstanceHandle();
KOLVEX_API HINSTANCE AfxGetResourceHandle();

// ---- Files ----

class KOLVEX_API CFileException : public CException {
 public:
  enum {
    none,
    genericException,
    fileNotFound,
    badPath,
    tooManyOpenFiles,
    accessDenied,
    invalidFile,
    removeCurrentDir,
    directoryFull,
    badSeek,
    hardIO,
    sharingViolation,
    lockViolation,
    diskFull,
    endOfFile
  };

  explicit CFileException(int cause = none, LONG lOsError = -1);
  ~CFileException() override;
  // The cause that a system error stands for: an errno value on Linux, a
  // GetLastError() code on Windows.
  static int OsErrorToException(LONG lOsError);

  int m_cause;
  LONG m_lOsError;  // the system's error (errno, or GetLastError() on Windows), or -1
};

// Throws a new CFileException* (the catcher calls Delete()).
[[noreturn]] KOLVEX_API void AfxThrowFileException(int cause, LONG lOsError = -1,
                                                   LPCSTR lpszFileName = nullptr);

// A file over the system's file handle (a POSIX descriptor on Linux, a Win32
// file handle on Windows). Read, Write and Seek report failure by
// throwing CFileException*; a short write (disk full) is a failure too.
class KOLVEX_API CFile {
 public:
  enum OpenFlags {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000
  };
  enum SeekPosition { begin = 0x0, current = 0x1, end = 0x2 };

  CFile() = default;
  // Opens the file or throws CFileException*.
  CFile(LPCSTR lpszFileName, UINT nOpenFlags);
  virtual ~CFile();  // closes without throwing
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // FALSE on failure, with the cause in *pError when given. Share modes are
  // accepted and not enforced; handles are never inherited by child processes.
  // Opening never waits for another program: a named pipe opens at once, or
  // fails when nobody is at its other end to serve it (on Linux, only when
  // opened for writing); reads and writes then wait as they do on any file.
  virtual BOOL Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
  // Answers the bytes read; fewer than nCount only at the end of the file.
  virtual UINT Read(void* lpBuf, UINT nCount);
  virtual void Write(const void* lpBuf, UINT nCount);
  // Answers the new position.
  virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
  virtual ULONGLONG GetPosition() const;
  virtual ULONGLONG GetLength() const;
  // True for a regular file on disk: its bytes have a length, and reading them
  // never waits for another program. False for pipes, sockets, terminals,
  // devices and directories, and when no file is open. A CMemFile is regular.
  virtual bool IsRegularFile() const;
  virtual void Flush();
  virtual void Close();  // throws CFileException* when the close fails
  virtual void Abort();  // closes, never throws

  void SeekToBegin() { Seek(0, begin); }
  ULONGLONG SeekToEnd() { return Seek(0, end); }

 private:
  kolvex::platform::NativeFile m_hFile = kolvex::platform::kNoFile;
};

// A file in memory. The buffer grows as written; running out of memory throws
// the CMemoryException* (counted by the fault injection). Seeking past the end
// is allowed, and a write there fills the gap with zeros.
class KOLVEX_API CMemFile : public CFile {
 public:
  explicit CMemFile(UINT nGrowBytes = 1024);
  ~CMemFile() override;

  BOOL Open(LPCSTR, UINT, CFileException* pError = nullptr) override;  // always FALSE
  UINT Read(void* lpBuf, UINT nCount) override;
  void Write(const void* lpBuf, UINT nCount) override;
  ULONGLONG Seek(LONGLONG lOff, UINT nFrom) override;
  ULONGLONG GetPosition() const override;
  ULONGLONG GetLength() const override;
  bool IsRegularFile() const override;
  void Flush() override;
  void Close() override;  // empties the file
  void Abort() override;

  // Hands the buffer (from malloc; free it with free()) to the caller and
  // empties the file. Null when nothing was written.
  BYTE* Detach();

 private:
  BYTE* m_lpBuffer = nullptr;
  std::size_t m_nBufferSize = 0;
  std::size_t m_nFileSize = 0;
  std::size_t m_nPosition = 0;
  std::size_t m_nGrowBytes;
};
