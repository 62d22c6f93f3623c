// CRZDIB2 members whose work is not built yet: capture, resources, saving and
// drawing. Each answers false and changes nothing, so callers see a plain
// failure rather than wrong pixels.

#include <kolvex/windows/dib.h>

bool CRZDIB2::CreateFromResource(const char*, HINSTANCE) { return false; }
bool CRZDIB2::CreateFromResource(UINT, HINSTANCE) { return false; }
bool CRZDIB2::CreateFromDesktop(RECT*) { return false; }
bool CRZDIB2::CreateFromDC(HDC, RECT*) { return false; }
bool CRZDIB2::Draw(CDC&, const CRect&, const CRect&, CPalette*) { return false; }
bool CRZDIB2::Draw(CDC&, const CRect&, CPalette*) { return false; }
bool CRZDIB2::Draw(CDC&, CPalette*) { return false; }
bool CRZDIB2::DrawToDesktop(int, int, int, int) { return false; }
bool CRZDIB2::DrawDIBsAlphaToDesktop(int, int, int, int) { return false; }
bool CRZDIB2::SaveAs(CFile&) { return false; }
