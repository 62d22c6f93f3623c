// Win32 kernel services: handle types, page-granular virtual memory, interlocked
// counts and critical sections.
//
// Virtual memory. VirtualAlloc reserves address space with no access and
// commits read-write pages inside a reservation (mmap + mprotect); committed
// pages read as zero. VirtualFree(MEM_RELEASE) gives a whole reservation back,
// VirtualFree(MEM_DECOMMIT) returns pages to the reserved state. VirtualQuery
// describes the run of pages of one state that starts at a given address, as
// Windows does, so a caller sees both the committed and the reserved extent of
// a reservation by walking it. Pages are 4096 bytes.
//
// Failure: every VirtualAlloc call counts as one allocation for the fault
// injection of <kolvex/testing.h> and answers null when it is told to
// fail, or when the system refuses the mapping. Invalid arguments (zero size,
// an address outside every reservation of this layer, placing a reservation
// at a chosen address) answer null / FALSE.
//
// Threading: every function here may be called from any thread; the
// reservation table has a lock of its own.
#pragma once

#include <kolvex/platform/export.h>
#include <kolvex/platform/linux/win32_types.h>

#include <atomic>

static_assert(sizeof(void*) == 8, "the platform layer encodes handles in 64-bit values");

// Handles are distinct pointer types that are never dereferenced: their values
// are table keys of the layer that made them.
#define DECLARE_HANDLE(name) \
  struct name##__ {          \
    int unused;              \
  };                         \
  using name = name##__*

using VOID = void;
using PVOID = void*;
using HANDLE = void*;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using LPCTSTR = const char*;
using LPTSTR = char*;

DECLARE_HANDLE(HINSTANCE);
using HMODULE = HINSTANCE;
DECLARE_HANDLE(HRSRC);
using HGLOBAL = HANDLE;

// ---- Virtual memory ----

#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_DECOMMIT 0x00004000
#define MEM_RELEASE 0x00008000
#define MEM_FREE 0x00010000
#define MEM_PRIVATE 0x00020000

#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04

struct MEMORY_BASIC_INFORMATION {
  PVOID BaseAddress;     // the page that holds the queried address
  PVOID AllocationBase;  // start of the reservation; null for free memory
  DWORD AllocationProtect;
  WORD PartitionId;
  SIZE_T RegionSize;  // bytes from BaseAddress with the same State
  DWORD State;        // MEM_COMMIT, MEM_RESERVE or MEM_FREE
  DWORD Protect;
  DWORD Type;
};
using PMEMORY_BASIC_INFORMATION = MEMORY_BASIC_INFORMATION*;

// lpAddress null: a new reservation of dwSize bytes (rounded up to pages); with
// MEM_COMMIT it is committed too. lpAddress inside a reservation with
// MEM_COMMIT: commits the pages that [lpAddress, lpAddress + dwSize) touches
// and answers the page-aligned start.
KOLVEX_API LPVOID VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType,
                               DWORD flProtect);
// MEM_RELEASE: lpAddress must be a reservation's start and dwSize 0.
// MEM_DECOMMIT: the pages of [lpAddress, lpAddress + dwSize) go back to reserved.
KOLVEX_API BOOL VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType);
// Fills *lpBuffer and answers its size; 0 when dwLength is too small. Memory
// outside every reservation of this layer reads as one free page.
KOLVEX_API SIZE_T VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer,
                               SIZE_T dwLength);

// ---- Interlocked counts: atomic, answer the new value ----

inline LONG InterlockedIncrement(LONG volatile* pAddend) {
  return std::atomic_ref<LONG>(*const_cast<LONG*>(pAddend)).fetch_add(1) + 1;
}
inline LONG InterlockedDecrement(LONG volatile* pAddend) {
  return std::atomic_ref<LONG>(*const_cast<LONG*>(pAddend)).fetch_sub(1) - 1;
}
// Stores value and answers the previous one.
inline LONG InterlockedExchange(LONG volatile* pTarget, LONG value) {
  return std::atomic_ref<LONG>(*const_cast<LONG*>(pTarget)).exchange(value);
}

// ---- Critical sections: re-entrant mutual exclusion, as on Windows ----

struct CRITICAL_SECTION {
  alignas(16) unsigned char opaque[64];  // a recursive mutex lives here once initialised
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

KOLVEX_API void InitializeCriticalSection(LPCRITICAL_SECTION cs);
KOLVEX_API void EnterCriticalSection(LPCRITICAL_SECTION cs);
KOLVEX_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
KOLVEX_API void LeaveCriticalSection(LPCRITICAL_SECTION cs);
KOLVEX_API void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// ---- Processes ----

// The pseudo-handle of the calling process ((HANDLE)-1); needs no closing.
inline HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(~std::uintptr_t{0}); }

namespace kolvex::platform {

// What CFile holds: a POSIX file descriptor; -1 when no file is open.
using NativeFile = int;
inline constexpr NativeFile kNoFile = -1;

}  // namespace kolvex::platform
