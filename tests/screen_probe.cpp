// The library on a real screen, for tests/screen_check (which compares what
// this program draws and captures with what programs that are not ours read
// and show: ImageMagick's `import`, `xwud`).
//
//   screen_probe draw FILE X Y OUT
//     draws the bitmap file at (X, Y) three ways, one under the other:
//     DrawToDesktop, Draw through DrawDib (plain storage) and Draw from a DIB
//     section (a blit); then captures the three areas into OUT-desktop.bmp,
//     OUT-drawdib.bmp and OUT-section.bmp.
//   screen_probe capture LEFT TOP RIGHT BOTTOM OUT
//     CreateFromDesktop of that area, saved as OUT.
// Exit status 0 when every call succeeded.

#include <kolvex/kolvex.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool Save(CRZDIB2& dib, const std::string& path) {
  CFile file;
  return file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite) && dib.SaveAs(file);
}

bool Capture(const RECT& area, const std::string& path) {
  RECT r = area;
  CRZDIB2 grab;
  return grab.CreateFromDesktop(&r) && Save(grab, path);
}

bool Draw(const char* file, int x, int y, const std::string& out) {
  CRZDIB2 picture;
  if (!picture.CreateFromFile(file)) return false;
  const int w = picture.DIBWidth();
  const int h = picture.DIBHeight();

  BITMAPINFOHEADER format;
  picture.GetBitmapInfoHeader(format);
  CRZDIB2 section;
  if (!section.CreateDIBSection(&format, 1)) return false;
  std::memcpy(section.GetBytes(), picture.GetBytes(), static_cast<std::size_t>(picture.DIBSize()));

  const HWND desktop = GetDesktopWindow();
  CDC screen;
  if (!screen.Attach(GetWindowDC(desktop))) return false;
  const CRect whole(0, 0, w, h);
  const bool drawn = picture.DrawToDesktop(x, y, 0, 0) &&
                     picture.Draw(screen, CRect(x, y + h, x + w, y + 2 * h), whole, nullptr) &&
                     section.Draw(screen, CRect(x, y + 2 * h, x + w, y + 3 * h), whole, nullptr);
  ReleaseDC(desktop, screen.Detach());
  return drawn && Capture(RECT{x, y, x + w, y + h}, out + "-desktop.bmp") &&
         Capture(RECT{x, y + h, x + w, y + 2 * h}, out + "-drawdib.bmp") &&
         Capture(RECT{x, y + 2 * h, x + w, y + 3 * h}, out + "-section.bmp");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  bool done = false;
  if (command == "draw" && argc == 6) {
    done = Draw(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
  } else if (command == "capture" && argc == 7) {
    const RECT area{std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5])};
    done = Capture(area, argv[6]);
  } else {
    std::fprintf(stderr, "usage: screen_probe draw FILE X Y OUT | capture L T R B OUT\n");
    return 2;
  }
  if (!done) std::fprintf(stderr, "screen_probe %s failed\n", command.c_str());
  return done ? 0 : 1;
}
