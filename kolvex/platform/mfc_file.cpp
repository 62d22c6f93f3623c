// CFile over a POSIX descriptor, CMemFile over a growing buffer, and their
// exception.

#include <kolvex/base/size.h>
#include <kolvex/platform/allocation.h>
#include <kolvex/platform/mfc.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ---- CFileException ----

CFileException::CFileException(int cause, LONG lOsError)
    : CException(true), m_cause(cause), m_lOsError(lOsError) {}

CFileException::~CFileException() = default;

int CFileException::OsErrorToException(LONG lOsError) {
  switch (lOsError) {
    case 0:
      return none;
    case ENOENT:
      return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
      return badPath;
    case EMFILE:
    case ENFILE:
      return tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
      return accessDenied;
    case EBADF:
      return invalidFile;
    case ESPIPE:
    case EINVAL:
      return badSeek;
    case EIO:
      return hardIO;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return diskFull;
    default:
      return genericException;
  }
}

void AfxThrowFileException(int cause, LONG lOsError, LPCTSTR) {
  throw new CFileException(cause, lOsError);
}

namespace {

[[noreturn]] void ThrowErrno(int error) {
  AfxThrowFileException(CFileException::OsErrorToException(error), error);
}

void SetError(CFileException* pError, int cause, LONG osError) {
  if (pError == nullptr) return;
  pError->m_cause = cause;
  pError->m_lOsError = osError;
}

}  // namespace

// ---- CFile ----

CFile::CFile(LPCTSTR lpszFileName, UINT nOpenFlags) {
  CFileException error;
  if (!Open(lpszFileName, nOpenFlags, &error)) AfxThrowFileException(error.m_cause, error.m_lOsError);
}

CFile::~CFile() { Abort(); }

BOOL CFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
  int flags = O_CLOEXEC;
  switch (nOpenFlags & 3) {
    case modeRead:
      flags |= O_RDONLY;
      break;
    case modeWrite:
      flags |= O_WRONLY;
      break;
    default:
      flags |= O_RDWR;
      break;
  }
  if (nOpenFlags & modeCreate) {
    flags |= O_CREAT;
    if ((nOpenFlags & modeNoTruncate) == 0) flags |= O_TRUNC;
  }
  if (m_fd >= 0 || lpszFileName == nullptr) {
    SetError(pError, CFileException::genericException, -1);
    return FALSE;
  }
  int fd = -1;
  do {
    fd = ::open(lpszFileName, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    SetError(pError, CFileException::OsErrorToException(error), error);
    return FALSE;
  }
  m_fd = fd;
  return TRUE;
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
  if (m_fd < 0) AfxThrowFileException(CFileException::invalidFile);
  auto* p = static_cast<BYTE*>(lpBuf);
  UINT done = 0;
  while (done < nCount) {
    const ssize_t n = ::read(m_fd, p + done, nCount - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (n == 0) break;  // end of file
    done += static_cast<UINT>(n);
  }
  return done;
}

void CFile::Write(const void* lpBuf, UINT nCount) {
  if (m_fd < 0) AfxThrowFileException(CFileException::invalidFile);
  const auto* p = static_cast<const BYTE*>(lpBuf);
  UINT done = 0;
  while (done < nCount) {
    const ssize_t n = ::write(m_fd, p + done, nCount - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (n == 0) AfxThrowFileException(CFileException::diskFull, ENOSPC);
    done += static_cast<UINT>(n);
  }
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
  if (m_fd < 0) AfxThrowFileException(CFileException::invalidFile);
  const int whence = nFrom == begin ? SEEK_SET : nFrom == current ? SEEK_CUR : SEEK_END;
  const off_t pos = ::lseek(m_fd, lOff, whence);
  if (pos < 0) AfxThrowFileException(CFileException::badSeek, errno);
  return static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetPosition() const {
  if (m_fd < 0) AfxThrowFileException(CFileException::invalidFile);
  const off_t pos = ::lseek(m_fd, 0, SEEK_CUR);
  if (pos < 0) ThrowErrno(errno);
  return static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetLength() const {
  if (m_fd < 0) AfxThrowFileException(CFileException::invalidFile);
  struct stat st {};
  if (::fstat(m_fd, &st) != 0) ThrowErrno(errno);
  return static_cast<ULONGLONG>(st.st_size);
}

void CFile::Flush() {
  if (m_fd >= 0 && ::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS) ThrowErrno(errno);
}

void CFile::Close() {
  if (m_fd < 0) return;
  const int fd = m_fd;
  m_fd = -1;
  // The descriptor is gone after close() whatever it reports; only the report matters.
  if (::close(fd) != 0 && errno != EINTR) ThrowErrno(errno);
}

void CFile::Abort() {
  if (m_fd < 0) return;
  ::close(m_fd);
  m_fd = -1;
}

// ---- CMemFile ----

CMemFile::CMemFile(UINT nGrowBytes) : m_nGrowBytes(nGrowBytes != 0 ? nGrowBytes : 1024) {}

CMemFile::~CMemFile() { std::free(m_lpBuffer); }

BOOL CMemFile::Open(LPCTSTR, UINT, CFileException* pError) {
  SetError(pError, CFileException::genericException, -1);
  return FALSE;
}

UINT CMemFile::Read(void* lpBuf, UINT nCount) {
  if (m_nPosition >= m_nFileSize) return 0;
  const std::size_t n = std::min<std::size_t>(nCount, m_nFileSize - m_nPosition);
  std::memcpy(lpBuf, m_lpBuffer + m_nPosition, n);
  m_nPosition += n;
  return static_cast<UINT>(n);
}

void CMemFile::Write(const void* lpBuf, UINT nCount) {
  if (nCount == 0) return;
  const auto end = kolvex::detail::CheckedAdd(m_nPosition, nCount);
  if (!end) AfxThrowMemoryException();
  if (*end > m_nBufferSize) {
    // Grow to a multiple of the grow step, at least doubling, so that many small
    // writes cost linear time.
    const auto stepped = kolvex::detail::CheckedAdd(*end, m_nGrowBytes - 1);
    if (!stepped) AfxThrowMemoryException();
    const std::size_t size = std::max(*stepped / m_nGrowBytes * m_nGrowBytes, 2 * m_nBufferSize);
    if (kolvex::detail::AllocationShouldFail()) AfxThrowMemoryException();
    auto* grown = static_cast<BYTE*>(std::realloc(m_lpBuffer, size));
    if (grown == nullptr) AfxThrowMemoryException();
    m_lpBuffer = grown;
    m_nBufferSize = size;
  }
  if (m_nPosition > m_nFileSize) std::memset(m_lpBuffer + m_nFileSize, 0, m_nPosition - m_nFileSize);
  std::memcpy(m_lpBuffer + m_nPosition, lpBuf, nCount);
  m_nPosition = *end;
  m_nFileSize = std::max(m_nFileSize, m_nPosition);
}

ULONGLONG CMemFile::Seek(LONGLONG lOff, UINT nFrom) {
  const LONGLONG base = nFrom == begin     ? 0
                        : nFrom == current ? static_cast<LONGLONG>(m_nPosition)
                                           : static_cast<LONGLONG>(m_nFileSize);
  LONGLONG pos = 0;
  if (__builtin_add_overflow(base, lOff, &pos) || pos < 0) {
    AfxThrowFileException(CFileException::badSeek, EINVAL);
  }
  m_nPosition = static_cast<std::size_t>(pos);
  return static_cast<ULONGLONG>(pos);
}

ULONGLONG CMemFile::GetPosition() const { return m_nPosition; }

ULONGLONG CMemFile::GetLength() const { return m_nFileSize; }

void CMemFile::Flush() {}

void CMemFile::Close() {
  std::free(m_lpBuffer);
  m_lpBuffer = nullptr;
  m_nBufferSize = m_nFileSize = m_nPosition = 0;
}

void CMemFile::Abort() { Close(); }

BYTE* CMemFile::Detach() {
  BYTE* buffer = m_lpBuffer;
  m_lpBuffer = nullptr;
  m_nBufferSize = m_nFileSize = m_nPosition = 0;
  return buffer;
}
