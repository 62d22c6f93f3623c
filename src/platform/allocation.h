// Internal: the single entry point through which the library allocates, so that
// tests can make any allocation fail (kolvex::testing::FailAllocationsAfter).
// Not installed; not part of the public interface.
#pragma once

#include <kolvex/platform/exceptions.h>

#include <cstddef>
#include <new>
#include <utility>

namespace kolvex::detail {

// Counts one allocation attempt against the fault injection and answers whether
// it must fail. Costs one relaxed atomic load while injection is off.
bool AllocationShouldFail() noexcept;

// The fault injection behind kolvex::testing::FailAllocationsAfter and
// StopFailingAllocations: after n more allocations, every one fails.
void FailAllocationsAfter(long long n);
void StopFailingAllocations();

// Makes the system calls through which the library makes memory and GDI
// objects (VirtualAlloc, the DC and bitmap constructors, GetWindowDC,
// DrawDibOpen) count against the fault injection too. The Linux stand-in counts
// them where it makes them, so this does nothing there; on Windows it routes
// the library's own imports of them through the count, once, on the first
// FailAllocationsAfter(). Thread-safe.
void CountSystemAllocations();

// Allocations that report exhaustion the MFC way: by throwing the static
// CMemoryException*. Never return null.
template <class T, class... Args>
T* New(Args&&... args) {
  if (AllocationShouldFail()) AfxThrowMemoryException();
  try {
    return new T(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    AfxThrowMemoryException();
  }
}

// Uninitialised array of trivially constructible elements.
template <class T>
T* NewArray(std::size_t count) {
  if (AllocationShouldFail()) AfxThrowMemoryException();
  T* p = new (std::nothrow) T[count];
  if (p == nullptr) AfxThrowMemoryException();
  return p;
}

}  // namespace kolvex::detail
