// CRZDIB2: drawing onto a client's device context and onto the desktop.
//
// Nothing is kept between calls: each call builds its grey description, alpha
// plane and DrawDib handle, and frees them before it returns.

#include "base/size.h"
#include "dib/draw_rows.h"
#include "dib/platform_description.h"
#include "platform/allocation.h"

#include <kolvex/dib/dib.h>
#include <kolvex/platform/win32.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace {

using kolvex::detail::PlatformDescription;

// What the platform gets with the pixels, never the bitmap's own header: for
// 8 bits a grey description, allocated through the library's allocator (so
// that running out shows as the memory exception, before anything is drawn);
// otherwise a private copy of the header's first 40 bytes and colour table.
class Description {
 public:
  explicit Description(const CRZDIB2& dib) {
    if (dib.DIBBitCount() == 8) {
      BITMAPINFOHEADER head;
      dib.GetBitmapInfoHeader(head);
      grey_.reset(kolvex::detail::New<PlatformDescription>(head, PlatformDescription::GreyRamp{}));
    } else {
      own_.emplace(*dib.GetBitmapInfoHeader());
    }
  }
  BITMAPINFOHEADER* Header() { return grey_ ? grey_->Header() : own_->Header(); }

 private:
  std::unique_ptr<PlatformDescription> grey_;
  std::optional<PlatformDescription> own_;
};

// One DrawDib handle, opened on first use and closed with the object; a Draw
// call makes one of these, so a handle lives for exactly one call.
class CDrawDibContext {
 public:
  CDrawDibContext() = default;
  virtual ~CDrawDibContext() {
    if (m_hDrawDib != nullptr) ::DrawDibClose(m_hDrawDib);
  }
  CDrawDibContext(const CDrawDibContext&) = delete;
  CDrawDibContext& operator=(const CDrawDibContext&) = delete;

  BOOL Draw(CDC& dc, BITMAPINFOHEADER* description, BYTE* bits, const CRect& dst,
            const CRect& src) {
    if (m_hDrawDib == nullptr) m_hDrawDib = ::DrawDibOpen();
    if (m_hDrawDib == nullptr) return FALSE;
    return ::DrawDibDraw(m_hDrawDib, dc.GetSafeHdc(), dst.left, dst.top, dst.Width(), dst.Height(),
                         description, bits, src.left, src.top, src.Width(), src.Height(), 0);
  }

 private:
  HDRAWDIB m_hDrawDib = nullptr;
};

// The whole image of `description` stretched into dst of hdc.
int StretchDIBToDC(HDC hdc, const CRect* dst, BITMAPINFOHEADER* description, const BYTE* bits) {
  if (dst == nullptr || description == nullptr || bits == nullptr) return 0;
  const LONG width = description->biWidth;
  const LONG height = description->biHeight;
  ::SetStretchBltMode(hdc, COLORONCOLOR);
  return ::StretchDIBits(hdc, dst->left, dst->top, dst->Width(), dst->Height(), 0, 0, width, height,
                         bits, reinterpret_cast<const BITMAPINFO*>(description), DIB_RGB_COLORS,
                         SRCCOPY);
}

// The same onto the desktop window's DC, held for this call only.
int StretchToDesktop(const CRect& dst, BITMAPINFOHEADER* description, const BYTE* bits) {
  const HWND desktop = ::GetDesktopWindow();
  const HDC dc = ::GetWindowDC(desktop);
  const int result = StretchDIBToDC(dc, &dst, description, bits);
  ::ReleaseDC(desktop, dc);
  return result;
}

// a + b with the wrap-around of 32-bit coordinates, never undefined.
LONG Add(LONG a, LONG b) {
  return static_cast<LONG>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// The whole-image rectangle, (0, 0, 0, 0) without a header.
CRect WholeImage(const CRZDIB2& dib) {
  const tagRZBMINFOHEADER* h = dib.GetRzBmiHeader();
  return h != nullptr ? CRect(0, 0, h->biWidth, h->biHeight) : CRect();
}

}  // namespace

bool CRZDIB2::Draw(CDC& dc, const CRect& rcDst, const CRect& rcSrc, CPalette*) {
  if (!IsValidDIB()) return false;
  Description description(*this);
  CDrawDibContext context;
  BOOL drawn = FALSE;
  if (IsDIBSection()) {
    // The section carries its own format: the description takes no part.
    const CDC* sectionDc = GetDIBSectionDC();
    const HDC source = sectionDc != nullptr ? sectionDc->GetSafeHdc() : nullptr;
    if (rcDst.Width() == rcSrc.Width() && rcDst.Height() == rcSrc.Height()) {
      drawn = ::BitBlt(dc.GetSafeHdc(), rcDst.left, rcDst.top, rcDst.Width(), rcDst.Height(),
                       source, rcSrc.left, rcSrc.top, SRCCOPY);
    } else {
      // Left in force on the client's DC afterwards.
      dc.SetStretchBltMode(COLORONCOLOR);
      drawn = ::StretchBlt(dc.GetSafeHdc(), rcDst.left, rcDst.top, rcDst.Width(), rcDst.Height(),
                           source, rcSrc.left, rcSrc.top, rcSrc.Width(), rcSrc.Height(), SRCCOPY);
    }
  } else {
    drawn = context.Draw(dc, description.Header(), GetBytes(), rcDst, rcSrc);
  }
  return drawn != FALSE;
}

bool CRZDIB2::Draw(CDC& dc, const CRect& rcDst, CPalette* pPalette) {
  return Draw(dc, rcDst, WholeImage(*this), pPalette);
}

bool CRZDIB2::Draw(CDC& dc, CPalette* pPalette) {
  const CRect whole = WholeImage(*this);
  return Draw(dc, whole, whole, pPalette);
}

bool CRZDIB2::DrawToDesktop(int nLeft, int nTop, int nRight, int nBottom) {
  if (!IsValidDIB()) return false;
  Description description(*this);
  CRect dst(nLeft, nTop, nRight, nBottom);
  if (dst.IsRectEmpty()) {
    dst.SetRect(nLeft, nTop, Add(nLeft, DIBWidth()), Add(nTop, DIBHeight()));
  }
  return StretchToDesktop(dst, description.Header(), GetBytes()) != 0;
}

bool CRZDIB2::DrawDIBsAlphaToDesktop(int nLeft, int nTop, int nRight, int nBottom) {
  try {
    if (!IsValidDIB() || DIBBitCount() != 32) return false;
    const int width = DIBWidth();
    const int height = DIBHeight();
    const auto plane = kolvex::detail::CheckedLayout(8, width, height);
    if (!plane) return false;

    BITMAPINFOHEADER head;
    GetBitmapInfoHeader(head);
    head.biBitCount = 8;
    head.biCompression = BI_RGB;
    head.biSizeImage = 0;
    head.biClrUsed = 0;
    head.biClrImportant = 0;
    const std::unique_ptr<PlatformDescription> description(
        kolvex::detail::New<PlatformDescription>(head, PlatformDescription::GreyRamp{}));
    const std::unique_ptr<BYTE[]> alpha(kolvex::detail::NewArray<BYTE>(plane->image));

    // 32-bit rows are exactly 4 x width bytes; rows keep their stored order.
    const BYTE* in = GetBytes();
    const std::size_t inStride = 4 * static_cast<std::size_t>(width);
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
      kolvex::detail::ExtractAlphaRow(in + y * inStride, alpha.get() + y * plane->stride,
                                      static_cast<std::size_t>(width));
    }

    CRect dst(nLeft, nTop, nRight, nBottom);
    if (dst.IsRectEmpty()) dst.SetRect(0, 0, width, height);
    StretchToDesktop(dst, description->Header(), alpha.get());  // the result does not count
    return true;
  } catch (CException* e) {
    e->Delete();
    return false;
  } catch (...) {
    return false;
  }
}
