// Win32 resources over a per-module table that programs fill at start-up.
//
// Names and types are strings or 16-bit integers made with MAKEINTRESOURCE (a
// pointer value whose upper bits are zero). String names compare without
// regard to case, and "#123" names the integer 123, as on Windows. A module
// handle of null stands for the process module (GetModuleHandleA(nullptr)).
//
// Ownership: AddResource copies the bytes; they live, at one address, until
// the process ends or RemoveResource drops them. LockResource answers a pointer
// to them. A later registration of the same module, name and type hides the
// earlier one.
//
// Failure: the lookups answer null / 0 for anything unknown, including forged
// HRSRC and HGLOBAL values and, for the life of the process, the handles of
// removed resources. Threading: any thread; the table has a lock.
#pragma once

#include <kolvex/platform/export.h>
#include <kolvex/platform/linux/kernel.h>
#include <kolvex/platform/linux/win32_types.h>

#define IS_INTRESOURCE(r) ((reinterpret_cast<ULONG_PTR>(r) >> 16) == 0)
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA

#define RT_BITMAP MAKEINTRESOURCE(2)
#define RT_RCDATA MAKEINTRESOURCE(10)

// lpModuleName null: the process module (never null). Other names: null.
KOLVEX_API HMODULE GetModuleHandleA(LPCSTR lpModuleName);
KOLVEX_API HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
// Null unless hResInfo is a resource of hModule.
KOLVEX_API HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
KOLVEX_API LPVOID LockResource(HGLOBAL hResData);
KOLVEX_API DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);

namespace kolvex::platform {

// Registers size bytes at data as resource `name` of type `type` in `module`.
// False for a null or empty name or type, null data with a size, when memory
// runs out, and when the table has no slot left (about 2^24 of them).
KOLVEX_API bool AddResource(HINSTANCE module, LPCSTR name, LPCSTR type, const void* data,
                            DWORD size);

// Drops every registration of `name` and `type` in `module` and frees their
// bytes: pointers from LockResource into them dangle afterwards, and their
// handles answer null from then on, whatever is registered later. For
// programs that register many short-lived resources (tests, fuzzing). False
// when nothing matched.
KOLVEX_API bool RemoveResource(HINSTANCE module, LPCSTR name, LPCSTR type);

}  // namespace kolvex::platform
