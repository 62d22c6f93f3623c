// CFile over a Win32 file handle, and the causes that Win32 error codes stand
// for.

#include <kolvex/platform/mfc.h>

int CFileException::OsErrorToException(LONG lOsError) {
  switch (lOsError) {
    case ERROR_SUCCESS:
      return none;
    case ERROR_FILE_NOT_FOUND:
      return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
      return badPath;
    case ERROR_TOO_MANY_OPEN_FILES:
      return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return accessDenied;
    case ERROR_INVALID_HANDLE:
      return invalidFile;
    case ERROR_NEGATIVE_SEEK:
    case ERROR_SEEK:
      return badSeek;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
      return hardIO;
    case ERROR_SHARING_VIOLATION:
      return sharingViolation;
    case ERROR_LOCK_VIOLATION:
      return lockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return diskFull;
    case ERROR_HANDLE_EOF:
      return endOfFile;
    default:
      return genericException;
  }
}

namespace {

[[noreturn]] void ThrowLastError() {
  const auto error = static_cast<LONG>(::GetLastError());
  AfxThrowFileException(CFileException::OsErrorToException(error), error);
}

// ReadFile and WriteFile move at most this much per call.
constexpr DWORD kMaxChunk = 1u << 30;

}  // namespace

BOOL CFile::Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
  auto fail = [pError](int cause, LONG osError) {
    if (pError != nullptr) {
      pError->m_cause = cause;
      pError->m_lOsError = osError;
    }
    return FALSE;
  };
  if (m_hFile != kolvex::platform::kNoFile || lpszFileName == nullptr) {
    return fail(CFileException::genericException, -1);
  }
  DWORD access = 0;
  switch (nOpenFlags & 3) {
    case modeRead:
      access = GENERIC_READ;
      break;
    case modeWrite:
      access = GENERIC_WRITE;
      break;
    default:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
  }
  DWORD disposition = OPEN_EXISTING;
  if (nOpenFlags & modeCreate) {
    disposition = (nOpenFlags & modeNoTruncate) != 0 ? OPEN_ALWAYS : CREATE_ALWAYS;
  }
  // Share modes are not enforced: others may read, write, rename and delete
  // the file meanwhile, as they may on Linux. Handles are not inherited.
  SECURITY_ATTRIBUTES noInherit{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  const HANDLE h =
      ::CreateFileA(lpszFileName, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    &noInherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const auto error = static_cast<LONG>(::GetLastError());
    return fail(CFileException::OsErrorToException(error), error);
  }
  m_hFile = h;
  return TRUE;
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
  if (m_hFile == kolvex::platform::kNoFile) AfxThrowFileException(CFileException::invalidFile);
  auto* p = static_cast<BYTE*>(lpBuf);
  UINT done = 0;
  while (done < nCount) {
    DWORD n = 0;
    const DWORD chunk = nCount - done < kMaxChunk ? nCount - done : kMaxChunk;
    if (!::ReadFile(m_hFile, p + done, chunk, &n, nullptr)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      ThrowLastError();
    }
    if (n == 0) break;  // end of file
    done += n;
  }
  return done;
}

void CFile::Write(const void* lpBuf, UINT nCount) {
  if (m_hFile == kolvex::platform::kNoFile) AfxThrowFileException(CFileException::invalidFile);
  const auto* p = static_cast<const BYTE*>(lpBuf);
  UINT done = 0;
  while (done < nCount) {
    DWORD n = 0;
    const DWORD chunk = nCount - done < kMaxChunk ? nCount - done : kMaxChunk;
    if (!::WriteFile(m_hFile, p + done, chunk, &n, nullptr)) ThrowLastError();
    if (n == 0) AfxThrowFileException(CFileException::diskFull, ERROR_DISK_FULL);
    done += n;
  }
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
  if (m_hFile == kolvex::platform::kNoFile) AfxThrowFileException(CFileException::invalidFile);
  const DWORD method = nFrom == begin ? FILE_BEGIN : nFrom == current ? FILE_CURRENT : FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = lOff;
  LARGE_INTEGER pos;
  if (!::SetFilePointerEx(m_hFile, distance, &pos, method)) {
    const auto error = static_cast<LONG>(::GetLastError());
    AfxThrowFileException(CFileException::badSeek, error);
  }
  return static_cast<ULONGLONG>(pos.QuadPart);
}

ULONGLONG CFile::GetPosition() const {
  if (m_hFile == kolvex::platform::kNoFile) AfxThrowFileException(CFileException::invalidFile);
  LARGE_INTEGER zero{};
  LARGE_INTEGER pos;
  if (!::SetFilePointerEx(m_hFile, zero, &pos, FILE_CURRENT)) ThrowLastError();
  return static_cast<ULONGLONG>(pos.QuadPart);
}

ULONGLONG CFile::GetLength() const {
  if (m_hFile == kolvex::platform::kNoFile) AfxThrowFileException(CFileException::invalidFile);
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(m_hFile, &size)) ThrowLastError();
  return static_cast<ULONGLONG>(size.QuadPart);
}

bool CFile::IsRegularFile() const {
  // Pipes, consoles and character devices are of other types.
  return m_hFile != kolvex::platform::kNoFile && ::GetFileType(m_hFile) == FILE_TYPE_DISK;
}

void CFile::Flush() {
  // Consoles and pipes have nothing to flush; only files report failure.
  if (m_hFile != kolvex::platform::kNoFile && !::FlushFileBuffers(m_hFile) &&
      ::GetLastError() != ERROR_INVALID_HANDLE) {
    ThrowLastError();
  }
}

void CFile::Close() {
  if (m_hFile == kolvex::platform::kNoFile) return;
  const HANDLE h = m_hFile;
  m_hFile = kolvex::platform::kNoFile;
  // The handle is gone whatever CloseHandle reports; only the report matters.
  if (!::CloseHandle(h)) ThrowLastError();
}

void CFile::Abort() {
  if (m_hFile == kolvex::platform::kNoFile) return;
  ::CloseHandle(m_hFile);
  m_hFile = kolvex::platform::kNoFile;
}
