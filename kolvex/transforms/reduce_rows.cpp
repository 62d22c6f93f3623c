// Plain row kernels of the quarter and eighth reductions. Each byte position of
// a pixel is an independent unsigned channel; sums stay in 32 bits (at most
// 16 x 255 + 8), so every mean is one shift and needs no clamping.

#include <kolvex/transforms/transform_rows.h>

namespace kolvex::detail {

namespace {

template <std::size_t N>
void QuarterBox(const BYTE* r0, const BYTE* r1, BYTE* out, std::size_t outPixels) {
  for (std::size_t x = 0; x < outPixels; ++x, r0 += 2 * N, r1 += 2 * N, out += N) {
    for (std::size_t c = 0; c < N; ++c) {
      const unsigned sum = r0[c] + r0[N + c] + r1[c] + r1[N + c];
      out[c] = static_cast<BYTE>((sum + 2) >> 2);
    }
  }
}

template <std::size_t N>
void QuarterPair(const BYTE* r, BYTE* out, std::size_t outPixels) {
  for (std::size_t x = 0; x < outPixels; ++x, r += 2 * N, out += N) {
    for (std::size_t c = 0; c < N; ++c) {
      const unsigned sum = r[c] + r[N + c];
      out[c] = static_cast<BYTE>((sum + 1) >> 1);
    }
  }
}

template <std::size_t N>
unsigned SumOfFour(const BYTE* r, std::size_t c) {
  return r[c] + r[N + c] + r[2 * N + c] + r[3 * N + c];
}

template <std::size_t N>
void EighthBox(const BYTE* r0, const BYTE* r1, const BYTE* r2, const BYTE* r3, BYTE* out,
               std::size_t outPixels) {
  for (std::size_t x = 0; x < outPixels; ++x) {
    for (std::size_t c = 0; c < N; ++c) {
      const unsigned sum =
          SumOfFour<N>(r0, c) + SumOfFour<N>(r1, c) + SumOfFour<N>(r2, c) + SumOfFour<N>(r3, c);
      out[c] = static_cast<BYTE>((sum + 8) >> 4);
    }
    r0 += 4 * N;
    r1 += 4 * N;
    r2 += 4 * N;
    r3 += 4 * N;
    out += N;
  }
}

template <std::size_t N>
void EighthField(const BYTE* r0, const BYTE* r2, BYTE* out, std::size_t outPixels) {
  for (std::size_t x = 0; x < outPixels; ++x, r0 += 4 * N, r2 += 4 * N, out += N) {
    for (std::size_t c = 0; c < N; ++c) {
      const unsigned sum = SumOfFour<N>(r0, c) + SumOfFour<N>(r2, c);
      out[c] = static_cast<BYTE>((sum + 4) >> 3);
    }
  }
}

}  // namespace

void QuarterBoxRow24(const BYTE* r0, const BYTE* r1, BYTE* out, std::size_t outPixels) {
  QuarterBox<3>(r0, r1, out, outPixels);
}
void QuarterBoxRow32(const BYTE* r0, const BYTE* r1, BYTE* out, std::size_t outPixels) {
  QuarterBox<4>(r0, r1, out, outPixels);
}
void QuarterPairRow24(const BYTE* r, BYTE* out, std::size_t outPixels) {
  QuarterPair<3>(r, out, outPixels);
}
void QuarterPairRow32(const BYTE* r, BYTE* out, std::size_t outPixels) {
  QuarterPair<4>(r, out, outPixels);
}
void EighthBoxRow24(const BYTE* r0, const BYTE* r1, const BYTE* r2, const BYTE* r3, BYTE* out,
                    std::size_t outPixels) {
  EighthBox<3>(r0, r1, r2, r3, out, outPixels);
}
void EighthBoxRow32(const BYTE* r0, const BYTE* r1, const BYTE* r2, const BYTE* r3, BYTE* out,
                    std::size_t outPixels) {
  EighthBox<4>(r0, r1, r2, r3, out, outPixels);
}
void EighthFieldRow24(const BYTE* r0, const BYTE* r2, BYTE* out, std::size_t outPixels) {
  EighthField<3>(r0, r2, out, outPixels);
}
void EighthFieldRow32(const BYTE* r0, const BYTE* r2, BYTE* out, std::size_t outPixels) {
  EighthField<4>(r0, r2, out, outPixels);
}

const ReduceRowKernels kPlainReduceRows24{QuarterBoxRow24, QuarterPairRow24, EighthBoxRow24,
                                          EighthFieldRow24};
const ReduceRowKernels kPlainReduceRows32{QuarterBoxRow32, QuarterPairRow32, EighthBoxRow32,
                                          EighthFieldRow32};

const ReduceRowKernels* SelectReduceRows(WORD bitCount) {
  switch (bitCount) {
    case 24:
      return &kPlainReduceRows24;
    case 32:
      return &kPlainReduceRows32;
    default:
      return nullptr;
  }
}

}  // namespace kolvex::detail
