// Internal: storage whose clearing waits for the first operation that writes
// it.
//
// Create(src) of a plain CRZDIB2 (a client class may reach the pixels through
// the block, where no accessor sees it) may take reused storage without
// clearing it: the block then owes zeros over its pixels and up to the end of
// their last page. The debt is paid by whatever comes first: an operation that
// writes the pixels itself (Mirror, CopyField) takes it over and clears only
// what it leaves; anything else that can reach the bytes (the accessors that
// hand out pointers, sharing, copies, the fills, an operation reading the
// block) clears them all first. A block that owes zeros is therefore never
// shared, and only its one owner, on one thread at a time, pays or takes its
// debt. Releasing the buffer forgets it.
#pragma once

#include <kolvex/core/dib_base.h>

#include <cstddef>

namespace kolvex::detail {

// While one lives on a thread, the next buffer that a storage hook makes for
// `owner` on this thread may owe its zeros.
class ClearLater {
 public:
  explicit ClearLater(const CRZDIBBase2& owner);
  ~ClearLater();
  ClearLater(const ClearLater&) = delete;
  ClearLater& operator=(const ClearLater&) = delete;

 private:
  const CRZDIBBase2* outer_;
};

// For a storage hook making a buffer for `owner`: whether the innermost
// ClearLater of this thread covers it. It is then used up.
bool MayClearLater(const CRZDIBBase2& owner);

// Records that `block` owes zeros over [begin, end). False when the record
// cannot be kept (too many blocks owe at once): the caller clears now.
bool OweZeros(const CRzDibBaseData2* block, BYTE* begin, BYTE* end);

// Clears what `block` owes, if anything. One relaxed load while nothing is
// owed anywhere.
void PayZeros(const CRzDibBaseData2* block) noexcept;

// Drops the debt of `block`, whose buffer is being released.
void ForgetZeros(const CRzDibBaseData2* block) noexcept;

// The debt of a block, taken over by an operation about to write most of it.
// What is still owed when it ends is cleared then: everything, unless the
// operation says how far it has written (a failed operation writes nothing).
class OwedZeros {
 public:
  explicit OwedZeros(const CRzDibBaseData2* block) noexcept;
  ~OwedZeros();
  OwedZeros(const OwedZeros&) = delete;
  OwedZeros& operator=(const OwedZeros&) = delete;

  // Whether anything is owed: the operation must then write or clear every
  // byte it covers.
  explicit operator bool() const { return begin_ != nullptr; }

  // Everything before `end` is written or cleared.
  void WrittenUpTo(BYTE* end) noexcept;

 private:
  BYTE* begin_ = nullptr;
  BYTE* end_ = nullptr;
};

}  // namespace kolvex::detail
