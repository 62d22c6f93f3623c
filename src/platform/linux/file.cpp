// CFile over a POSIX descriptor, and the causes that errno values stand for.

#include <kolvex/platform/mfc.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

BOOL CFile::Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
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
  if (m_hFile >= 0 || lpszFileName == nullptr) {
    SetError(pError, CFileException::genericException, -1);
    return FALSE;
  }
  // Opened without waiting (a named pipe would hold a blocking open until a
  // writer came), then put back to blocking for the reads and writes.
  int fd = -1;
  do {
    fd = ::open(lpszFileName, flags | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  const int status = fd < 0 ? -1 : ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    SetError(pError, CFileException::OsErrorToException(error), error);
    return FALSE;
  }
  m_hFile = fd;
  return TRUE;
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
  if (m_hFile < 0) AfxThrowFileException(CFileException::invalidFile);
  auto* p = static_cast<BYTE*>(lpBuf);
  UINT done = 0;
  while (done < nCount) {
    const ssize_t n = ::read(m_hFile, p + done, nCount - done);
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
  if (m_hFile < 0) AfxThrowFileException(CFileException::invalidFile);
  const auto* p = static_cast<const BYTE*>(lpBuf);
  UINT done = 0;
  while (done < nCount) {
    const ssize_t n = ::write(m_hFile, p + done, nCount - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (n == 0) AfxThrowFileException(CFileException::diskFull, ENOSPC);
    done += static_cast<UINT>(n);
  }
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
  if (m_hFile < 0) AfxThrowFileException(CFileException::invalidFile);
  const int whence = nFrom == begin ? SEEK_SET : nFrom == current ? SEEK_CUR : SEEK_END;
  const off_t pos = ::lseek(m_hFile, lOff, whence);
  if (pos < 0) AfxThrowFileException(CFileException::badSeek, errno);
  return static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetPosition() const {
  if (m_hFile < 0) AfxThrowFileException(CFileException::invalidFile);
  const off_t pos = ::lseek(m_hFile, 0, SEEK_CUR);
  if (pos < 0) ThrowErrno(errno);
  return static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetLength() const {
  if (m_hFile < 0) AfxThrowFileException(CFileException::invalidFile);
  struct stat st {};
  if (::fstat(m_hFile, &st) != 0) ThrowErrno(errno);
  return static_cast<ULONGLONG>(st.st_size);
}

bool CFile::IsRegularFile() const {
  struct stat st {};
  return m_hFile >= 0 && ::fstat(m_hFile, &st) == 0 && S_ISREG(st.st_mode);
}

void CFile::Flush() {
  if (m_hFile >= 0 && ::fsync(m_hFile) != 0 && errno != EINVAL && errno != EROFS) ThrowErrno(errno);
}

void CFile::Close() {
  if (m_hFile < 0) return;
  const int fd = m_hFile;
  m_hFile = -1;
  // The descriptor is gone after close() whatever it reports; only the report matters.
  if (::close(fd) != 0 && errno != EINTR) ThrowErrno(errno);
}

void CFile::Abort() {
  if (m_hFile < 0) return;
  ::close(m_hFile);
  m_hFile = -1;
}
