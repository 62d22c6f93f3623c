// Kolvex: everything a client needs.
//
//   #include <kolvex/kolvex.h>
//
// brings the Win32-style types, the MFC-style exceptions, the bitmap core
// (CRZDIBBase2, tagRZBMINFOHEADER, CRzDibBaseData2) and the kolvex:: extras.
#pragma once

#include <kolvex/platform/export.h>
#include <kolvex/platform/win32_types.h>
#include <kolvex/platform/exceptions.h>
#include <kolvex/platform/testing.h>
#include <kolvex/core/dib_base.h>
#include <kolvex/module/module.h>
#include <kolvex/windows/bitmap_file.h>
