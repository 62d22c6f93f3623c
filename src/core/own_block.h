// Internal: the loan of an object's own block as a source, for operations
// that reshape the object they read.
#pragma once

#include <kolvex/core/dib_base.h>

// While it lives, the owner is empty and this object reads as the owner's
// former block; the owner may be reshaped freely with this object as source.
// The destructor drops the old block through the owner's own hooks (so a
// derived block is released by its own kind), unless Restore() has given it
// back. The loan holds no reference of its own: nothing may write through it.
class CRZDIBBase2::OwnBlockSource final : public CRZDIBBase2 {
 public:
  explicit OwnBlockSource(CRZDIBBase2& owner) : owner_(owner), block_(owner.pData) {
    pData = block_;
    owner_._ISetDataNil();
  }
  ~OwnBlockSource() {
    if (block_ != nullptr) owner_._ReleaseBlock(block_);
    _ISetDataNil();
  }
  OwnBlockSource(const OwnBlockSource&) = delete;
  OwnBlockSource& operator=(const OwnBlockSource&) = delete;

  // Undoes the loan: the owner releases whatever it made meanwhile and takes
  // its old block back, as if nothing had happened.
  void Restore() {
    owner_.Delete();
    owner_.pData = block_;
    block_ = nullptr;
    _ISetDataNil();
  }

 private:
  CRZDIBBase2& owner_;
  CRzDibBaseData2* block_;
};
