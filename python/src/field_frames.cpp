#include "field_frames.h"

#include "bitmap.h"

namespace kolvex_python {

namespace {

// The stored field (0: rows 0, 2, 4... from the bottom; 1: rows 1, 3, 5...)
// that holds picture field `field` of a frame `height` rows high.
int StoredField(PictureField field, int height) {
  const bool evenHeight = height % 2 == 0;
  return (field == PictureField::Even) == evenHeight ? 1 : 0;
}

// The public reductions and scaling keep field 1 of an interlaced frame; their
// protected steps, which a derived class may call or replace, take field 0 too.
class FieldFrame : public CRZDIB2 {
 public:
  bool Reduce(const CRZDIB2& src, int divisor, int stored) {
    if (!Create(src.DIBBitCount(), src.DIBWidth() / divisor, src.DIBHeight() / divisor, 1)) {
      return false;
    }
    const int selector = stored == 0 ? 2 : 1;
    return divisor == 2 ? _GetQuarterDIB(src, selector) : _GetEighthDIB(src, selector);
  }
  // Every row from the chosen field, at src's own size too.
  bool ScaleField(const CRZDIB2& src, int width, int height, int stored) {
    if (!Create(src.DIBBitCount(), width, height, kProgressive)) return false;
    if (width == 0 || height == 0) return true;
    const bool scaled =
        _InitScaling(width, height, src.DIBWidth(), src.DIBHeight(), stored == 0 ? 1 : 0) &&
        _DoScaling(src);
    _DeleteScaling();
    return scaled;
  }
};

bool Reduce(CRZDIB2& dst, const CRZDIB2& src, PictureField field, int divisor) {
  if (!src.IsValidDIB() || src.GetBytes() == nullptr) return false;
  FieldFrame result;
  if (!result.Reduce(src, divisor, StoredField(field, src.DIBHeight()))) return false;
  dst = result;
  return true;
}

}  // namespace

bool CreateQuarterOfField(CRZDIB2& dst, const CRZDIB2& src, PictureField field) {
  return Reduce(dst, src, field, 2);
}

bool CreateEighthOfField(CRZDIB2& dst, const CRZDIB2& src, PictureField field) {
  return Reduce(dst, src, field, 4);
}

bool CreateScaledFromField(CRZDIB2& dst, const CRZDIB2& src, int width, int height,
                           PictureField field) {
  if (!src.IsValidDIB() || src.GetBytes() == nullptr) return false;
  FieldFrame result;
  if (!result.ScaleField(src, width, height, StoredField(field, src.DIBHeight()))) return false;
  dst = result;
  return true;
}

}  // namespace kolvex_python
