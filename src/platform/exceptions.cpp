#include <kolvex/platform/exceptions.h>

CException::~CException() = default;

void CException::Delete() {
  if (m_bAutoDelete) delete this;
}

CMemoryException* CMemoryException::Instance() {
  // Function-local static: constructed on first use, never destroyed while the
  // library can still throw it.
  static CMemoryException* const instance = new CMemoryException();
  return instance;
}

void AfxThrowMemoryException() { throw CMemoryException::Instance(); }
