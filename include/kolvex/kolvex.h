// Kolvex: everything a client needs.
//
//   #include <kolvex/kolvex.h>
//
// brings the Win32 types and functions (kernel, GDI, USER, DrawDib,
// resources: the system's own on Windows, the stand-in's on Linux), the
// MFC-style classes and exceptions, the bitmap core (CRZDIBBase2,
// tagRZBMINFOHEADER, CRzDibBaseData2) and its geometry (row strides, size
// limits), the thread count of one operation (kolvex::SetThreads), the
// Windows bitmap (CRZDIB2, CRzDibData2, CDIBCacheInfo) and the kolvex::
// extras. The hooks for tests (failure injection, kernel levels) are apart,
// in <kolvex/testing.h>.
#pragma once

#include <kolvex/base/geometry.h>
#include <kolvex/core/dib_base.h>
#include <kolvex/core/threads.h>
#include <kolvex/dib/bitmap_file.h>
#include <kolvex/dib/dib.h>
#include <kolvex/dib/fields.h>
#include <kolvex/module/module.h>
#include <kolvex/platform/exceptions.h>
#include <kolvex/platform/export.h>
#include <kolvex/platform/mfc.h>
#include <kolvex/platform/screen.h>
#include <kolvex/platform/storage_reuse.h>
#include <kolvex/platform/win32.h>
