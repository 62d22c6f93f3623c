// Client classes built against an earlier library find every operation in its slot.

#include "test_support.h"

namespace {

// The 1-based slot of a virtual member (Itanium ABI: vtable offset + 1); 0 if not virtual.
template <class Pmf>
std::size_t VirtualSlot(Pmf pmf) {
  std::uintptr_t rep[2];  // the function or vtable offset, then the this-adjustment
  static_assert(sizeof(Pmf) == sizeof rep, "Itanium ABI member pointer expected");
  std::memcpy(rep, &pmf, sizeof rep);
  if ((rep[0] & 1) == 0) return 0;
  return (rep[0] - 1) / sizeof(void*) + 1;
}

// Takes the addresses of the protected members, which only a derived class may.
struct Slots : CRZDIB2 {
  static std::vector<std::size_t> All() {
    using B = CRZDIBBase2;
    using D = CRZDIB2;
    return {
        VirtualSlot(&B::Delete),
        VirtualSlot(static_cast<const B& (B::*)(const B&)>(&B::AssignCopy)),
        VirtualSlot(static_cast<const B& (B::*)(const B&)>(&B::operator=)),
        VirtualSlot(&B::CopyDibBytes),
        VirtualSlot(&B::Attach),
        VirtualSlot(&B::Detach),
        VirtualSlot(static_cast<bool (B::*)(WORD, int, int, DWORD)>(&B::Create)),
        VirtualSlot(static_cast<bool (B::*)(tagRZBMINFOHEADER*)>(&B::Create)),
        VirtualSlot(static_cast<bool (B::*)(BITMAPINFOHEADER*, DWORD)>(&B::Create)),
        VirtualSlot(static_cast<bool (B::*)(const B&)>(&B::Create)),
        VirtualSlot(&B::CreateQuarter),
        VirtualSlot(&B::CreateEighth),
        VirtualSlot(static_cast<bool (B::*)(WORD, int, int, DWORD)>(&B::CreateOrModify)),
        VirtualSlot(static_cast<bool (B::*)(const BITMAPINFOHEADER&, DWORD)>(&B::CreateOrModify)),
        VirtualSlot(static_cast<bool (B::*)(const tagRZBMINFOHEADER&, DWORD)>(&B::CreateOrModify)),
        VirtualSlot(static_cast<bool (B::*)(const B&)>(&B::CreateOrModify)),
        VirtualSlot(static_cast<bool (B::*)(const B&, int, int, DWORD)>(&B::CreateScaled)),
        VirtualSlot(static_cast<bool (B::*)(const B&, int, int)>(&B::CreateScaled)),
        VirtualSlot(&B::CreateInterpolatedFrame),
        VirtualSlot(&B::CopyField),
        VirtualSlot(&B::IsLocked),
        VirtualSlot(&B::LockDIB),
        VirtualSlot(&B::UnlockDIB),
        VirtualSlot(static_cast<void (B::*)(UINT)>(&B::ClearDIB)),
        VirtualSlot(static_cast<void (B::*)(int)>(&B::ClearDIB)),
        VirtualSlot(&B::Mirror),
        VirtualSlot(static_cast<bool (B::*)(const B&, int, int)>(&B::Scale)),
        VirtualSlot(static_cast<bool (B::*)(int, int)>(&B::Scale)),
        VirtualSlot(&Slots::_ISetDataNil),
        VirtualSlot(&Slots::_IAllocData),
        VirtualSlot(&Slots::_IFreeData),
        VirtualSlot(&Slots::_IAllocDibData),
        VirtualSlot(&Slots::_IFreeDibData),
        VirtualSlot(&Slots::_InterlockedIncrement),
        VirtualSlot(&Slots::_InterlockedDecrement),
        VirtualSlot(&Slots::_IDelete),
        VirtualSlot(&Slots::_CopyBeforeWrite),
        VirtualSlot(&Slots::_AllocBeforeWrite),
        VirtualSlot(&Slots::_UseMMXInstructions),
        VirtualSlot(&Slots::_GetQuarterDIB),
        VirtualSlot(&Slots::_GetEighthDIB),
        VirtualSlot(&Slots::__FrameFromField0ReverseNoInt),
        VirtualSlot(&Slots::__FrameFromField1ReverseNoInt),
        VirtualSlot(&Slots::__FrameFromField0ReverseBiInt),
        VirtualSlot(&Slots::__FrameFromField1ReverseBiInt),
        VirtualSlot(&Slots::_GetOddFrame),
        VirtualSlot(&Slots::_GetEvenFrame),
        VirtualSlot(&Slots::__Field0ToField0Reverse),
        VirtualSlot(&Slots::__Field1ToField1Reverse),
        VirtualSlot(&Slots::_OddFieldToOddField),
        VirtualSlot(&Slots::_EvenFieldToEvenField),
        VirtualSlot(&Slots::_InitScaling),
        VirtualSlot(&Slots::_DeleteScaling),
        VirtualSlot(&Slots::_DoScaling),
        // CRZDIB2's own, after the two slots of its destructor (55 and 56).
        VirtualSlot(static_cast<const D& (D::*)(const D&)>(&D::AssignCopy)),
        VirtualSlot(&D::CreateDIBSection),
        VirtualSlot(static_cast<bool (D::*)(const char*, HINSTANCE)>(&D::CreateFromResource)),
        VirtualSlot(static_cast<bool (D::*)(UINT, HINSTANCE)>(&D::CreateFromResource)),
        VirtualSlot(&D::CreateFromDesktop),
        VirtualSlot(&D::CreateFromDC),
        VirtualSlot(&D::AdjustBrightness),
        VirtualSlot(&D::Median3x3),
        VirtualSlot(
            static_cast<bool (D::*)(CDC&, const CRect&, const CRect&, CPalette*)>(&D::Draw)),
        VirtualSlot(static_cast<bool (D::*)(CDC&, const CRect&, CPalette*)>(&D::Draw)),
        VirtualSlot(static_cast<bool (D::*)(CDC&, CPalette*)>(&D::Draw)),
        VirtualSlot(&D::DrawToDesktop),
        VirtualSlot(&D::DrawDIBsAlphaToDesktop),
        VirtualSlot(&D::SaveAs),
        VirtualSlot(&D::CacheThis),
        VirtualSlot(&D::UnCacheThis),
        VirtualSlot(&D::LookupCache),
    };
  }
};

TEST(VirtualTable, OperationsSitInTheirFixedSlots) {
  const std::vector<std::size_t> slots = Slots::All();
  ASSERT_EQ(slots.size(), 71u);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    EXPECT_EQ(slots[i], i < 54 ? i + 1 : i + 3) << "operation number " << i + 1;
  }
  // Nothing else is virtual: a client's first own virtual member lands in 74.
  struct Appended : CRZDIB2 {
    virtual void Extra() {}
  };
  EXPECT_EQ(VirtualSlot(&Appended::Extra), 74u);
}

}  // namespace
