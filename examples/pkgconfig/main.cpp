// Built with nothing but `pkg-config --cflags --libs kolvex`: makes a frame,
// halves it and checks one rounded mean.
#include <kolvex/kolvex.h>

#include <cstdio>

int main() {
  CRZDIB2 frame;
  if (!frame.Create(32, 4, 2, 1)) return 1;
  frame.ClearDIB(0x01020304u);
  frame.GetBytes()[0] = 0x09;  // one blue byte of the first 2x2 block
  CRZDIB2 half;
  if (!half.CreateQuarter(frame)) return 1;
  // (9 + 4 + 4 + 4 + 2) >> 2 = 5
  std::printf("kolvex %s: %d x %d, first blue %d\n", kolvex::LibraryVersion(), half.DIBWidth(),
              half.DIBHeight(), half.GetBytes()[0]);
  return half.GetBytes()[0] == 5 ? 0 : 1;
}
