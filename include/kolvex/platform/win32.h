// The Win32 names the library is written against: the kernel (virtual memory,
// interlocked counts, critical sections), GDI, USER, DrawDib and resources,
// spelled and typed as <windows.h> spells them.
//
// On Windows they are the system's own, from <windows.h> and <vfw.h>
// (platform/windows/win32.h). On Linux they come from the in-memory stand-in
// (platform/linux/), whose headers document how each call behaves there.
// Either way LONG and DWORD are 32 bits and the structures have the Windows
// layout.
#pragma once

#if defined(_WIN32)
#include <kolvex/platform/windows/win32.h>
#else
#include <kolvex/platform/linux/drawdib.h>
#include <kolvex/platform/linux/gdi.h>
#include <kolvex/platform/linux/kernel.h>
#include <kolvex/platform/linux/resources.h>
#include <kolvex/platform/linux/user.h>
#include <kolvex/platform/linux/win32_types.h>
#endif
