// The reductions and scaling of a chosen field: dst is reshaped through its
// own Create and filled by its own reduction or scaling steps, given the field
// selector or row mode that names the caller's field in stored rows.

#include "core/whole_write.h"

#include <kolvex/dib/fields.h>

namespace kolvex {

namespace {

// The steps are protected members of CRZDIBBase2. A class derived from it may
// name them as member pointers, and a member pointer called on dst goes
// through dst's virtual table, exactly as the member operations call them.
class Steps : CRZDIB2 {
 public:
  using Worker = bool (CRZDIBBase2::*)(const CRZDIBBase2&, int);

  static Worker Reduction(int factor) {
    return factor == 2 ? &Steps::_GetQuarterDIB : &Steps::_GetEighthDIB;
  }
  static constexpr auto kDoScaling = &Steps::_DoScaling;

  // Scale(src, width, height) past its same-size copy and its choice of rows:
  // build the tables for this row mode, copy through them, free them.
  static bool Scale(CRZDIB2& dst, const CRZDIBBase2& src, int width, int height, int rowMode) {
    if (!(dst.*&Steps::_InitScaling)(width, height, src.DIBWidth(), src.DIBHeight(), rowMode)) {
      return false;
    }
    bool ok = false;
    try {
      ok = (dst.*kDoScaling)(src);
    } catch (...) {
      (dst.*&Steps::_DeleteScaling)();  // the tables never outlive the call
      throw;
    }
    (dst.*&Steps::_DeleteScaling)();
    return ok;
  }
};

// Whether `field` of a frame of this height is the one the library keeps of
// an interlaced frame: stored field 1, the rows 1, 3, 5... from the bottom.
// The other is stored field 0, the rows 0, 2, 4....
bool IsStoredField1(Field field, int height) { return field == LibraryField(height); }

// A source the field operations take: pixels of 24 or 32 bits, stored
// bottom-up.
bool Takes(const CRZDIB2& src) {
  const tagRZBMINFOHEADER* h = src.GetRzBmiHeader();
  return h != nullptr && src.GetBytes() != nullptr && h->biWidth >= 0 && h->biHeight >= 0 &&
         (h->biBitCount == 24 || h->biBitCount == 32);
}

// make(source) with src as the source; when src is dst itself, with a sharing
// copy of it, which keeps the pixels alive while dst is remade.
template <class Make>
bool FromSource(CRZDIB2& dst, const CRZDIB2& src, Make make) {
  if (&src != &dst) return make(src);
  CRZDIB2 own;
  try {
    own = src;  // copies only a locked bitmap
  } catch (CMemoryException* e) {
    e->Delete();
    return false;
  }
  return make(own);
}

bool CreateReducedField(CRZDIB2& dst, const CRZDIB2& src, Field field, int factor) {
  return FromSource(dst, src, [&](const CRZDIB2& source) {
    if (!Takes(source)) return false;
    const WORD bitCount = source.DIBBitCount();
    const int width = source.DIBWidth() / factor;
    const int height = source.DIBHeight() / factor;
    // The worker's field selector: 1 reads stored field 1, 2 stored field 0.
    const int selector = IsStoredField1(field, source.DIBHeight()) ? 1 : 2;
    const Steps::Worker worker = Steps::Reduction(factor);
    const std::size_t whole = detail::WholeRowsBytes(bitCount, width, height);
    const detail::WholeWrite promise(dst, whole,
                                     whole != 0 && detail::RunsOwn(dst, detail::kCreate, worker));
    if (!dst.Create(bitCount, width, height, kProgressiveFrame)) return false;
    if ((dst.*worker)(source, selector)) return true;
    dst.Delete();
    return false;
  });
}

}  // namespace

Field LibraryField(int height) { return (height & 1) == 0 ? Field::Even : Field::Odd; }

bool CreateQuarterOfField(CRZDIB2& dst, const CRZDIB2& src, Field field) {
  return CreateReducedField(dst, src, field, 2);
}

bool CreateEighthOfField(CRZDIB2& dst, const CRZDIB2& src, Field field) {
  return CreateReducedField(dst, src, field, 4);
}

bool CreateScaledFromField(CRZDIB2& dst, const CRZDIB2& src, int width, int height, Field field) {
  return FromSource(dst, src, [&](const CRZDIB2& source) {
    if (!Takes(source) || width < 0 || height < 0) return false;
    const WORD bitCount = source.DIBBitCount();
    // The row mode of the scaling tables: 0 names stored field 1 (held at the
    // last row), a positive mode stored field 0.
    const int rowMode = IsStoredField1(field, source.DIBHeight()) ? 0 : 1;
    const std::size_t whole = detail::WholeRowsBytes(bitCount, width, height);
    const detail::WholeWrite promise(
        dst, whole, whole != 0 && detail::RunsOwn(dst, detail::kCreate, Steps::kDoScaling));
    if (!dst.Create(bitCount, width, height, kProgressiveFrame)) return false;
    if (width == 0 || height == 0) return true;
    if (Steps::Scale(dst, source, width, height, rowMode)) return true;
    dst.Delete();
    return false;
  });
}

}  // namespace kolvex
