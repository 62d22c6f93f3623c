// CRZDIB2: capturing device contexts and the display, and loading bitmap
// resources of type 8000.

#include "dib/bitmap_file_read.h"

#include <kolvex/dib/dib.h>
#include <kolvex/platform/win32.h>

#include <cstdint>
#include <cstring>

namespace {

// The resource type that carries bitmap file images.
constexpr WORD kBitmapResourceType = 8000;

}  // namespace

// ---- Capture ----

bool CRZDIB2::CreateFromDC(HDC hDC, RECT* pArea) {
  if (hDC == nullptr) return false;

  // Grab the area into a device bitmap first; the object stays untouched
  // until there is something to convert.
  HDC memoryDc = ::CreateCompatibleDC(hDC);
  if (memoryDc == nullptr) return false;
  RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  if (pArea != nullptr) {
    if (::IsRectEmpty(pArea)) {
      ::DeleteDC(memoryDc);
      return false;
    }
    ::CopyRect(&area, pArea);
  }
  // Extents in 64 bits: a rectangle spanning the whole LONG range has a width
  // that does not fit in one, and then no bitmap can be made for it.
  const std::int64_t width = std::int64_t{area.right} - area.left;
  const std::int64_t height = std::int64_t{area.bottom} - area.top;
  HBITMAP bitmap =
      width <= INT32_MAX && height <= INT32_MAX
          ? ::CreateCompatibleBitmap(hDC, static_cast<int>(width), static_cast<int>(height))
          : nullptr;
  if (bitmap != nullptr) {
    HGDIOBJ previous = ::SelectObject(memoryDc, bitmap);
    ::BitBlt(memoryDc, 0, 0, static_cast<int>(width), static_cast<int>(height), hDC, area.left,
             area.top, SRCCOPY);
    ::SelectObject(memoryDc, previous);
  }
  ::DeleteDC(memoryDc);
  if (bitmap == nullptr) return false;

  BITMAP info{};
  // The whole structure (24 bytes on 32-bit Windows, 32 on 64-bit systems,
  // which refuse less); only the width and height are read.
  ::GetObjectA(bitmap, sizeof info, &info);
  // Create lets a memory exception through to the caller; the platform bitmap
  // must not outlive it.
  bool created = false;
  try {
    created = Create(24, info.bmWidth, info.bmHeight, kolvex::kProgressiveFrame);
  } catch (...) {
    ::DeleteObject(bitmap);
    throw;
  }
  if (!created) {
    ::DeleteObject(bitmap);
    return false;
  }

  // GDI reads a plain 40-byte header; the extended size goes back at once.
  tagRZBMINFOHEADER* header = GetRzBmiHeader();
  header->biSize = sizeof(BITMAPINFOHEADER);
  const int lines = ::GetDIBits(hDC, bitmap, 0, static_cast<UINT>(header->biHeight), GetBytes(),
                                reinterpret_cast<BITMAPINFO*>(header), DIB_RGB_COLORS);
  header->biSize = sizeof(tagRZBMINFOHEADER);
  ::DeleteObject(bitmap);

  if (lines == 0) {
    Delete();
    return false;
  }
  return true;
}

bool CRZDIB2::CreateFromDesktop(RECT* pArea) {
  HDC display = ::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  if (display == nullptr) return false;
  bool captured = false;
  try {
    captured = CreateFromDC(display, pArea);
  } catch (...) {
    ::DeleteDC(display);
    throw;
  }
  ::DeleteDC(display);
  return captured;
}

// ---- Resources ----

bool CRZDIB2::CreateFromResource(const char* pszName, HINSTANCE hModule) {
  Delete();
  if (hModule == nullptr) hModule = AfxGetModuleState()->m_hCurrentInstanceHandle;
  // An integer name travels as its 16-bit identifier, anything else as a string.
  const LPCSTR name = IS_INTRESOURCE(pszName)
                          ? MAKEINTRESOURCE(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(pszName)))
                          : pszName;
  HRSRC found = ::FindResourceA(hModule, name, MAKEINTRESOURCE(kBitmapResourceType));
  if (found == nullptr) return false;
  HGLOBAL loaded = ::LoadResource(hModule, found);
  if (loaded == nullptr) return false;
  const auto* bytes = static_cast<const BYTE*>(::LockResource(loaded));
  if (bytes == nullptr) return false;
  const DWORD size = ::SizeofResource(hModule, found);

  kolvex::detail::BitmapPlan plan;
  if (kolvex::detail::ParseBitmap(bytes, size, kolvex::detail::BitmapSource::Resource, plan) !=
      nullptr) {
    return false;
  }
  try {
    // Header and every byte behind the colour table, in one buffer. For a
    // resource without a colour table this is the resource size + 90.
    _NewBlock(plan.info, 1, plan.pixelBytes);
    CRzDibBaseData2* block = _IGetData();
    kolvex::detail::ConvertImage(plan, bytes, block->pBytes);
    // Bytes behind the image are kept as they are.
    const std::size_t image = plan.sourceStride * static_cast<std::size_t>(plan.height);
    std::memcpy(block->pBytes + image, bytes + plan.pixelOffset + image, plan.pixelBytes - image);
    return true;
  } catch (CMemoryException* e) {
    e->Delete();
    Delete();
    return false;
  }
}

bool CRZDIB2::CreateFromResource(UINT nId, HINSTANCE hModule) {
  return CreateFromResource(MAKEINTRESOURCE(static_cast<WORD>(nId)), hModule);
}
