// For tests/screen_check.sh: `screen_probe FILE X Y OUT` draws the bitmap file
// at (X, Y) with DrawToDesktop, captures that area and saves it as OUT.

#include <kolvex/kolvex.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: screen_probe FILE X Y OUT\n");
    return 2;
  }
  const int x = std::atoi(argv[2]);
  const int y = std::atoi(argv[3]);
  CRZDIB2 picture;
  CRZDIB2 grab;
  CFile out;
  bool done = picture.CreateFromFile(argv[1]) && picture.DrawToDesktop(x, y, 0, 0);
  RECT area{x, y, x + picture.DIBWidth(), y + picture.DIBHeight()};
  done = done && grab.CreateFromDesktop(&area) &&
         out.Open(argv[4], CFile::modeCreate | CFile::modeWrite) && grab.SaveAs(out);
  if (!done) std::fprintf(stderr, "screen_probe failed\n");
  return done ? 0 : 1;
}
