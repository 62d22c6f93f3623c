// What both systems share of the file classes: the exception, CFile's
// construction, and CMemFile, a file in a growing buffer. CFile's file calls
// are the system's (platform/<system>/file.cpp).

#include "base/size.h"
#include "platform/allocation.h"

#include <kolvex/platform/mfc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

// ---- CFileException ----

CFileException::CFileException(int cause, LONG lOsError)
    : CException(true), m_cause(cause), m_lOsError(lOsError) {}

CFileException::~CFileException() = default;

void AfxThrowFileException(int cause, LONG lOsError, LPCSTR) {
  throw new CFileException(cause, lOsError);
}

// ---- CFile: what does not depend on the system ----

CFile::CFile(LPCSTR lpszFileName, UINT nOpenFlags) {
  CFileException error;
  if (!Open(lpszFileName, nOpenFlags, &error))
    AfxThrowFileException(error.m_cause, error.m_lOsError);
}

CFile::~CFile() { Abort(); }

// ---- CMemFile ----

CMemFile::CMemFile(UINT nGrowBytes) : m_nGrowBytes(nGrowBytes != 0 ? nGrowBytes : 1024) {}

CMemFile::~CMemFile() { std::free(m_lpBuffer); }

BOOL CMemFile::Open(LPCSTR, UINT, CFileException* pError) {
  if (pError != nullptr) {
    pError->m_cause = CFileException::genericException;
    pError->m_lOsError = -1;
  }
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
  if (m_nPosition > m_nFileSize)
    std::memset(m_lpBuffer + m_nFileSize, 0, m_nPosition - m_nFileSize);
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
    AfxThrowFileException(CFileException::badSeek);
  }
  m_nPosition = static_cast<std::size_t>(pos);
  return static_cast<ULONGLONG>(pos);
}

ULONGLONG CMemFile::GetPosition() const { return m_nPosition; }

ULONGLONG CMemFile::GetLength() const { return m_nFileSize; }

bool CMemFile::IsRegularFile() const { return true; }

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
