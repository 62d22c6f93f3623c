// The virtual tables are an interface: client classes built against an earlier
// library must find every operation in the same slot.

#include "test_support.h"

namespace {

// 1-based virtual-table slot of a pointer to a virtual member function, decoded
// from its Itanium C++ ABI representation (vtable byte offset + 1); 0 for a
// pointer to a non-virtual member.
template <class Pmf>
std::size_t VirtualSlot(Pmf pmf) {
  std::uintptr_t rep[2];  // the function or vtable offset, then the this-adjustment
  static_assert(sizeof(Pmf) == sizeof rep, "Itanium ABI member pointer expected");
  std::memcpy(rep, &pmf, sizeof rep);
  if ((rep[0] & 1) == 0) return 0;
  return (rep[0] - 1) / sizeof(void*) + 1;
}

// Takes the addresses of the protected members, which only a derived class may.
struct BaseSlots : CRZDIBBase2 {
  static std::vector<std::size_t> All() {
    using B = CRZDIBBase2;
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
        VirtualSlot(&BaseSlots::_ISetDataNil),
        VirtualSlot(&BaseSlots::_IAllocData),
        VirtualSlot(&BaseSlots::_IFreeData),
        VirtualSlot(&BaseSlots::_IAllocDibData),
        VirtualSlot(&BaseSlots::_IFreeDibData),
        VirtualSlot(&BaseSlots::_InterlockedIncrement),
        VirtualSlot(&BaseSlots::_InterlockedDecrement),
        VirtualSlot(&BaseSlots::_IDelete),
        VirtualSlot(&BaseSlots::_CopyBeforeWrite),
        VirtualSlot(&BaseSlots::_AllocBeforeWrite),
        VirtualSlot(&BaseSlots::_UseMMXInstructions),
        VirtualSlot(&BaseSlots::_GetQuarterDIB),
        VirtualSlot(&BaseSlots::_GetEighthDIB),
        VirtualSlot(&BaseSlots::__FrameFromField0ReverseNoInt),
        VirtualSlot(&BaseSlots::__FrameFromField1ReverseNoInt),
        VirtualSlot(&BaseSlots::__FrameFromField0ReverseBiInt),
        VirtualSlot(&BaseSlots::__FrameFromField1ReverseBiInt),
        VirtualSlot(&BaseSlots::_GetOddFrame),
        VirtualSlot(&BaseSlots::_GetEvenFrame),
        VirtualSlot(&BaseSlots::__Field0ToField0Reverse),
        VirtualSlot(&BaseSlots::__Field1ToField1Reverse),
        VirtualSlot(&BaseSlots::_OddFieldToOddField),
        VirtualSlot(&BaseSlots::_EvenFieldToEvenField),
        VirtualSlot(&BaseSlots::_InitScaling),
        VirtualSlot(&BaseSlots::_DeleteScaling),
        VirtualSlot(&BaseSlots::_DoScaling),
    };
  }
};

// CRZDIB2 keeps the 54 base slots and appends its own: the virtual destructor
// (two Itanium slots, 55 and 56), then the operations in their fixed order.
struct DerivedSlots : CRZDIB2 {
  static std::vector<std::size_t> All() {
    using D = CRZDIB2;
    return {
        VirtualSlot(static_cast<const D& (D::*)(const D&)>(&D::AssignCopy)),
        VirtualSlot(&D::CreateDIBSection),
        VirtualSlot(static_cast<bool (D::*)(const char*, HINSTANCE)>(&D::CreateFromResource)),
        VirtualSlot(static_cast<bool (D::*)(UINT, HINSTANCE)>(&D::CreateFromResource)),
        VirtualSlot(&D::CreateFromDesktop),
        VirtualSlot(&D::CreateFromDC),
        VirtualSlot(&D::AdjustBrightness),
        VirtualSlot(&D::Median3x3),
        VirtualSlot(static_cast<bool (D::*)(CDC&, const CRect&, const CRect&, CPalette*)>(&D::Draw)),
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
  const std::vector<std::size_t> base = BaseSlots::All();
  ASSERT_EQ(base.size(), 54u);
  for (std::size_t i = 0; i < base.size(); ++i) EXPECT_EQ(base[i], i + 1) << "base operation " << i + 1;
  const std::vector<std::size_t> derived = DerivedSlots::All();
  ASSERT_EQ(derived.size(), 17u);
  for (std::size_t i = 0; i < derived.size(); ++i) EXPECT_EQ(derived[i], i + 57) << "appended operation " << i + 2;
  // Nothing else is virtual, in the base or here: a client's first own
  // virtual member lands in 74.
  struct Appended : CRZDIB2 {
    virtual void Extra() {}
  };
  EXPECT_EQ(VirtualSlot(&Appended::Extra), 74u);
}

}  // namespace
