// The Win32 names on Windows: the system's own, from <windows.h> (kernel,
// GDI, USER, resources) and <vfw.h> (DrawDib). Nothing here replaces them;
// this header only pins the layouts the library relies on and names the
// system's file handle for CFile.
//
// Narrow strings: the library's entry points take char strings (FindResourceA,
// CreateDCA); a client built with UNICODE still gets them, since the library
// calls the A functions by name.
#pragma once

#include <windows.h>
// <vfw.h> needs the types of <windows.h> before it.
#include <vfw.h>

static_assert(sizeof(BYTE) == 1 && sizeof(WORD) == 2);
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(UINT) == 4);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(BITMAPFILEHEADER) == 14);
static_assert(sizeof(RGBQUAD) == 4);
static_assert(sizeof(RECT) == 16);

namespace kolvex::platform {

// What CFile holds: a Win32 file handle; null when no file is open.
using NativeFile = HANDLE;
inline constexpr NativeFile kNoFile = nullptr;

}  // namespace kolvex::platform
