// MFC-style exceptions. As in MFC they are thrown by pointer, and whoever
// catches one calls Delete() on it instead of `delete`.
//
// Ownership: an exception object belongs to the code that caught it until it
// calls Delete(). The memory exception is one static object whose Delete()
// does nothing, so reporting exhaustion never needs memory.
// Threading: throwing and deleting exceptions is safe from any thread.
#pragma once

#include <kolvex/platform/export.h>

class KOLVEX_API CException {
 public:
  virtual ~CException();
  // Frees the exception if it was allocated for this throw; a no-op for the
  // static memory exception.
  void Delete();

 protected:
  explicit CException(bool bAutoDelete = true) : m_bAutoDelete(bAutoDelete) {}
  CException(const CException&) = delete;
  CException& operator=(const CException&) = delete;

 private:
  bool m_bAutoDelete;
};

class KOLVEX_API CMemoryException : public CException {
 public:
  // The one instance thrown by AfxThrowMemoryException().
  static CMemoryException* Instance();

 private:
  CMemoryException() : CException(false) {}
};

// Throws the static CMemoryException* (never returns).
[[noreturn]] KOLVEX_API void AfxThrowMemoryException();
