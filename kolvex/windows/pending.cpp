// CRZDIB2 members whose work is not built yet: capture, resources, saving,
// drawing, filters and the image cache. Each answers false (or does nothing)
// and changes nothing, so callers see a plain failure rather than wrong pixels.

#include <kolvex/windows/dib.h>

bool CRZDIB2::CreateFromResource(const char*, HINSTANCE) { return false; }
bool CRZDIB2::CreateFromResource(UINT, HINSTANCE) { return false; }
bool CRZDIB2::CreateFromDesktop(RECT*) { return false; }
bool CRZDIB2::CreateFromDC(HDC, RECT*) { return false; }
bool CRZDIB2::AdjustBrightness(int) { return false; }
bool CRZDIB2::Median3x3(const CRZDIB2&) { return false; }
bool CRZDIB2::Draw(CDC&, const CRect&, const CRect&, CPalette*) { return false; }
bool CRZDIB2::Draw(CDC&, const CRect&, CPalette*) { return false; }
bool CRZDIB2::Draw(CDC&, CPalette*) { return false; }
bool CRZDIB2::DrawToDesktop(int, int, int, int) { return false; }
bool CRZDIB2::DrawDIBsAlphaToDesktop(int, int, int, int) { return false; }
bool CRZDIB2::SaveAs(CFile&) { return false; }
bool CRZDIB2::CacheThis() const { return false; }
void CRZDIB2::UnCacheThis() const {}
bool CRZDIB2::LookupCache(const CDIBCacheInfo&) { return false; }
