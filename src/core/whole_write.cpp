// Promises of buffers written whole: one per thread at a time, the innermost.

#include "core/whole_write.h"

#include "core/block_buffer.h"
#include "core/image_rows.h"

namespace kolvex::detail {

thread_local WholeWrite::Promise WholeWrite::current_;

WholeWrite::WholeWrite(const CRZDIBBase2& owner, std::size_t bytes, bool keep) : outer_(current_) {
  current_ = keep ? Promise{&owner, bytes, false} : Promise{};
}

WholeWrite::~WholeWrite() { current_ = outer_; }

bool WholeWrite::Kept(const CRZDIBBase2& owner, bool written) const {
  if (!written && current_.taken) {
    if (const auto image = ReadImage(owner)) std::memset(image->bytes, 0, image->image);
  }
  return written;
}

bool TakeWholeWrite(const CRZDIBBase2& owner, std::size_t bytes) {
  WholeWrite::Promise& promise = WholeWrite::current_;
  if (promise.owner != &owner || promise.bytes != bytes) return false;
  promise.owner = nullptr;
  promise.taken = true;
  return true;
}

std::size_t WholeRowsBytes(WORD bitCount, LONG width, LONG height) {
  const auto layout = CheckedLayout(bitCount, width, height);
  if (!layout || layout->stride * 8 != static_cast<std::size_t>(bitCount) * width) return 0;
  return kHeaderBytes + layout->image;
}

const CRZDIBBase2& OwnDefinitions() {
  struct Plain final : CRZDIBBase2 {};
  static const Plain plain;
  return plain;
}

}  // namespace kolvex::detail
