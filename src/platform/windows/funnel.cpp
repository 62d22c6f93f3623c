// Fault injection on Windows: the system calls through which the library makes
// memory and GDI objects answer "no memory" when the injection says so.
//
// The library calls the system's own VirtualAlloc, CreateCompatibleDC, ...
// through its import address table. The first FailAllocationsAfter() points
// those entries of this DLL's table (and of no other module) at counting
// wrappers, which ask AllocationShouldFail() before they pass the call on; so
// the same operations fail in the same places as under the Linux stand-in,
// and the real cleanup paths run against the real GDI. A process that never
// injects faults never has its table touched.

#include "platform/allocation.h"

#include <kolvex/platform/win32.h>

#include <array>
#include <cstring>
#include <mutex>

namespace {

// The routed functions, by the name they are imported under.
enum Routed : std::size_t {
  kVirtualAlloc,
  kCreateCompatibleDC,
  kCreateDCA,
  kCreateCompatibleBitmap,
  kCreateDIBSection,
  kGetWindowDC,
  kGetDC,
  kDrawDibOpen,
  kRoutedCount
};

// The system's entry points, saved from the table before it is changed.
std::array<void*, kRoutedCount> g_system{};

// A wrapper with the exact signature of the function it stands for.
template <std::size_t I, class F>
struct Counted;

template <std::size_t I, class R, class... A>
struct Counted<I, R(A...)> {
  static R WINAPI Call(A... args) {
    if (kolvex::detail::AllocationShouldFail()) {
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return R{};
    }
    return reinterpret_cast<R(WINAPI*)(A...)>(g_system[I])(args...);
  }
};

template <std::size_t I, class F>
void* Wrapper() {
  return reinterpret_cast<void*>(&Counted<I, F>::Call);
}

struct Route {
  const char* name;
  void* wrapper;
};

const std::array<Route, kRoutedCount> kRoutes = {{
    {"VirtualAlloc", Wrapper<kVirtualAlloc, decltype(::VirtualAlloc)>()},
    {"CreateCompatibleDC", Wrapper<kCreateCompatibleDC, decltype(::CreateCompatibleDC)>()},
    {"CreateDCA", Wrapper<kCreateDCA, decltype(::CreateDCA)>()},
    {"CreateCompatibleBitmap",
     Wrapper<kCreateCompatibleBitmap, decltype(::CreateCompatibleBitmap)>()},
    {"CreateDIBSection", Wrapper<kCreateDIBSection, decltype(::CreateDIBSection)>()},
    {"GetWindowDC", Wrapper<kGetWindowDC, decltype(::GetWindowDC)>()},
    {"GetDC", Wrapper<kGetDC, decltype(::GetDC)>()},
    {"DrawDibOpen", Wrapper<kDrawDibOpen, decltype(::DrawDibOpen)>()},
}};

template <class T>
T* At(BYTE* base, DWORD rva) {
  return reinterpret_cast<T*>(base + rva);
}

// Points one import table entry at `to`, saving what it held in `saved`.
void Redirect(ULONG_PTR* entry, void* to, void*& saved) {
  DWORD protection = 0;
  if (!::VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &protection)) return;
  saved = reinterpret_cast<void*>(*entry);
  *entry = reinterpret_cast<ULONG_PTR>(to);
  ::VirtualProtect(entry, sizeof *entry, protection, &protection);
}

// Walks this module's imports and routes every entry named in kRoutes.
void RouteImports() {
  HMODULE self = nullptr;
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&g_system), &self)) {
    return;
  }
  auto* base = reinterpret_cast<BYTE*>(self);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = At<const IMAGE_NT_HEADERS>(base, static_cast<DWORD>(dos->e_lfanew));
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return;
  for (auto* dll = At<IMAGE_IMPORT_DESCRIPTOR>(base, imports.VirtualAddress); dll->Name != 0;
       ++dll) {
    if (dll->OriginalFirstThunk == 0) continue;  // no names to match
    auto* names = At<IMAGE_THUNK_DATA>(base, dll->OriginalFirstThunk);
    auto* entries = At<IMAGE_THUNK_DATA>(base, dll->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++entries) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName =
          At<const IMAGE_IMPORT_BY_NAME>(base, static_cast<DWORD>(names->u1.AddressOfData));
      for (std::size_t i = 0; i < kRoutes.size(); ++i) {
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), kRoutes[i].name) == 0) {
          Redirect(&entries->u1.Function, kRoutes[i].wrapper, g_system[i]);
        }
      }
    }
  }
}

}  // namespace

void kolvex::detail::CountSystemAllocations() {
  static std::once_flag routed;
  std::call_once(routed, RouteImports);
}
