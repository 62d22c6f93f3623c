// Transform members whose pixel work is not built yet. Each answers false and
// changes nothing, so callers see a plain failure rather than wrong pixels.

#include <kolvex/core/dib_base.h>

bool CRZDIBBase2::CreateQuarter(const CRZDIBBase2&) { return false; }
bool CRZDIBBase2::CreateEighth(const CRZDIBBase2&) { return false; }
bool CRZDIBBase2::CreateScaled(const CRZDIBBase2&, int, int, DWORD) { return false; }
bool CRZDIBBase2::CreateScaled(const CRZDIBBase2&, int, int) { return false; }
bool CRZDIBBase2::CreateInterpolatedFrame(const CRZDIBBase2&, int, int) { return false; }
bool CRZDIBBase2::CopyField(const CRZDIBBase2&, int) { return false; }
bool CRZDIBBase2::Mirror(int, int, const CRZDIBBase2&) { return false; }
bool CRZDIBBase2::Scale(const CRZDIBBase2&, int, int) { return false; }
bool CRZDIBBase2::Scale(int, int) { return false; }
bool CRZDIBBase2::_GetQuarterDIB(const CRZDIBBase2&, int) { return false; }
bool CRZDIBBase2::_GetEighthDIB(const CRZDIBBase2&, int) { return false; }
void CRZDIBBase2::__FrameFromField0ReverseNoInt(const CRZDIBBase2&) {}
void CRZDIBBase2::__FrameFromField1ReverseNoInt(const CRZDIBBase2&) {}
void CRZDIBBase2::__FrameFromField0ReverseBiInt(const CRZDIBBase2&) {}
void CRZDIBBase2::__FrameFromField1ReverseBiInt(const CRZDIBBase2&) {}
bool CRZDIBBase2::_GetOddFrame(const CRZDIBBase2&, int, int) { return false; }
bool CRZDIBBase2::_GetEvenFrame(const CRZDIBBase2&, int, int) { return false; }
void CRZDIBBase2::__Field0ToField0Reverse(const CRZDIBBase2&) {}
void CRZDIBBase2::__Field1ToField1Reverse(const CRZDIBBase2&) {}
bool CRZDIBBase2::_OddFieldToOddField(const CRZDIBBase2&, int) { return false; }
bool CRZDIBBase2::_EvenFieldToEvenField(const CRZDIBBase2&, int) { return false; }
bool CRZDIBBase2::_InitScaling(int, int, int, int, int) { return false; }
void CRZDIBBase2::_DeleteScaling() {}
bool CRZDIBBase2::_DoScaling(const CRZDIBBase2&) { return false; }
