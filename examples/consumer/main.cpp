// Loads the bitmap embedded as resource 101, makes a half-size copy, draws it
// on the (virtual) screen, captures it back and saves both as bitmap files.
#include <kolvex/kolvex.h>

#include <cstdio>

int main(int argc, char** argv) {
  const char* out = argc > 1 ? argv[1] : "consumer-quarter.bmp";

  CRZDIB2 card;
  if (!card.CreateFromResource(101, nullptr)) {
    std::fprintf(stderr, "resource 101 not found\n");
    return 1;
  }
  CRZDIB2 quarter;
  if (!quarter.CreateQuarter(card)) {
    std::fprintf(stderr, "quarter failed\n");
    return 1;
  }
  CRZDIB2 grabbed;
  RECT area{0, 0, quarter.DIBWidth(), quarter.DIBHeight()};
  if (!quarter.DrawToDesktop(0, 0, 0, 0) || !grabbed.CreateFromDesktop(&area)) {
    std::fprintf(stderr, "screen round trip failed\n");
    return 1;
  }
  CFile file;
  if (!file.Open(out, CFile::modeCreate | CFile::modeWrite) || !grabbed.SaveAs(file)) {
    std::fprintf(stderr, "%s: cannot write\n", out);
    return 1;
  }
  file.Close();
  std::printf("kolvex %s: resource %d x %d, quarter %d x %d, saved %s\n", kolvex::LibraryVersion(),
              card.DIBWidth(), card.DIBHeight(), grabbed.DIBWidth(), grabbed.DIBHeight(), out);
  return 0;
}
