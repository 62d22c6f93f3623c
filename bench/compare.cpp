// Our whole-image operations beside the nearest operations of libyuv and
// OpenCV (when they were found at configure time) and beside the memory bound,
// in one run and on the same frames.
//
// Frames: 1920x1080 and 3840x2160, 24 and 32 bits (and 8 for the median, the
// one operation here that takes 8-bit images), each family cycled from a
// pool larger than the last-level cache, so every operation pays for its
// memory traffic as it would on a stream of video frames. Every operation
// writes into destinations made beforehand (the reductions and frames through
// their workers), as the peers do; scaling includes its per-call tables, and
// brightness its table (the peers' tables are made once, beforehand).
//
// The bound of an operation is a memcpy of the bytes it reads plus the bytes
// it writes, timed the same way. Times are CPU time per frame (every operation
// runs on one thread), which a busy machine disturbs less than wall time. After the benchmarks a table gives, per
// operation: our time, the fastest peer's time and our ratio to it, and our
// ratio to the bound. Before them, each peer's bytes are compared with ours
// once; where a peer is documented to compute exactly our bytes, a mismatch is
// reported as such.
//
//   compare [--level=plain|sse2|avx2|avx512] [--hot] [Google Benchmark flags]
//
// --level runs our operations at a lower kernel level; --hot uses one frame
// instead of a pool (frames that fit stay cached: the cost of the arithmetic
// alone, not the memory traffic).

#include "bench_dib.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#if defined(KOLVEX_HAVE_LIBYUV)
#include <libyuv.h>
#include <libyuv/scale_rgb.h>
#endif
#if defined(KOLVEX_HAVE_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

struct Geometry {
  int width;
  int height;
  int bits;

  std::size_t Stride() const { return static_cast<std::size_t>((bits * width + 31) / 32 * 4); }
  std::size_t RowBytes() const { return static_cast<std::size_t>(width) * bits / 8; }
  std::size_t Bytes() const { return Stride() * static_cast<std::size_t>(height); }
  std::string Name() const {
    return std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(bits);
  }
  bool operator<(const Geometry& o) const {
    return std::tie(width, height, bits) < std::tie(o.width, o.height, o.bits);
  }
};

std::size_t LastLevelCacheBytes() {
  const long l3 = sysconf(_SC_LEVEL3_CACHE_SIZE);
  return l3 > 0 ? static_cast<std::size_t>(l3) : std::size_t{32} << 20;
}

bool g_hot = false;

// Enough buffers of `bytes` each that cycling through them (together with a
// pool of the same count on the other side) never finds one still cached.
std::size_t PoolCount(std::size_t bytes) {
  if (g_hot) return 1;
  const std::size_t target = 3 * LastLevelCacheBytes();
  return std::max<std::size_t>(3, (target + bytes - 1) / std::max<std::size_t>(bytes, 1));
}

// ---- Frames: random sources and prepared destinations, made once ----

using Pool = std::vector<std::unique_ptr<BenchDib>>;

Pool MakePool(const Geometry& g, std::size_t count, bool random) {
  Pool pool;
  std::mt19937 rng(static_cast<std::uint32_t>(g.width * 7 + g.bits));
  for (std::size_t i = 0; i < count; ++i) {
    auto dib = std::make_unique<BenchDib>();
    if (!dib->Create(static_cast<WORD>(g.bits), g.width, g.height, 1)) return {};
    BYTE* p = dib->GetBytes();
    if (random) {
      for (std::size_t b = 0; b < g.Bytes(); b += 4) {
        const std::uint32_t r = rng();
        std::memcpy(p + b, &r, std::min<std::size_t>(4, g.Bytes() - b));
      }
    } else {
      std::memset(p, 0, g.Bytes());  // maps every page before timing
    }
    pool.push_back(std::move(dib));
  }
  return pool;
}

// Sources of a frame geometry; destinations keyed by their own geometry and
// the source's pool size (one per source, cycled in step).
Pool& Sources(const Geometry& g) {
  static std::map<Geometry, Pool> pools;
  auto it = pools.find(g);
  if (it == pools.end()) it = pools.emplace(g, MakePool(g, PoolCount(g.Bytes()), true)).first;
  return it->second;
}

Pool& Targets(const Geometry& g, std::size_t count) {
  static std::map<std::pair<Geometry, std::size_t>, Pool> pools;
  auto key = std::make_pair(g, count);
  auto it = pools.find(key);
  if (it == pools.end()) it = pools.emplace(key, MakePool(g, count, false)).first;
  return it->second;
}

// ---- Operations ----

// One way to compute an operation: ours or a peer's. Writes dst from src.
using Run = std::function<bool(BenchDib& dst, const BenchDib& src)>;

struct Peer {
  std::string name;
  Run run;
  bool exact;  // documented to compute exactly our bytes
};

// An operation reads `readBytes` of a source frame and writes `writeBytes`
// of a target of geometry `target`. One that works in place (a filter of
// this bitmap) ignores the source and changes the target. The agreement check
// leaves out `border` pixels at each edge (a filter whose peers treat the
// border their own way).
struct Operation {
  std::string name;
  Geometry source;
  Geometry target;
  double readBytes;
  double writeBytes;
  Run ours;
  std::vector<Peer> peers;
  int border = 0;
};

#if defined(KOLVEX_HAVE_OPENCV)
cv::Mat View(const BenchDib& dib, int rowStep = 1, int firstRow = 0) {
  const int type = CV_8UC(dib.DIBBitCount() / 8);
  const auto stride = static_cast<std::size_t>(dib.DIBBytesPerLine());
  return cv::Mat((dib.DIBHeight() - firstRow + rowStep - 1) / rowStep, dib.DIBWidth(), type,
                 dib.GetBytes() + firstRow * stride, stride * rowStep);
}
#endif

#if defined(KOLVEX_HAVE_LIBYUV)
// libyuv's box or nearest scaling of `rows` stored rows starting at
// `firstRow`, every `rowStep`-th, into all of dst.
bool YuvScale(BenchDib& dst, const BenchDib& src, libyuv::FilterMode filter, int rowStep = 1,
              int firstRow = 0) {
  const int stride = src.DIBBytesPerLine();
  const int rows = (src.DIBHeight() - firstRow + rowStep - 1) / rowStep;
  const auto scale = src.DIBBitCount() == 32 ? libyuv::ARGBScale : libyuv::RGBScale;
  return scale(src.GetBytes() + firstRow * stride, stride * rowStep, src.DIBWidth(), rows,
               dst.GetBytes(), dst.DIBBytesPerLine(), dst.DIBWidth(), dst.DIBHeight(),
               filter) == 0;
}

// An interpolated frame from field 1 as libyuv makes it: field rows copied,
// the rows between them averaged at 128/256, the edge rows repeated.
bool YuvFrame(BenchDib& dst, const BenchDib& src) {
  const int stride = src.DIBBytesPerLine();
  const int h = src.DIBHeight();
  const BYTE* s = src.GetBytes();
  BYTE* d = dst.GetBytes();
  libyuv::CopyPlane(s + stride, 2 * stride, d + stride, 2 * stride, stride, h / 2);
  std::memcpy(d, s + stride, static_cast<std::size_t>(stride));
  const int averaged = (h - 2) / 2;  // rows 2, 4, ... that have a field row above
  libyuv::InterpolatePlane(s + stride, 2 * stride, s + 3 * stride, 2 * stride, d + 2 * stride,
                           2 * stride, stride, averaged, 128);
  if (h % 2 == 1) std::memcpy(d + (h - 1) * stride, s + (h - 2) * stride, stride);
  return true;
}
#endif

// The operations and their peers. To add one (a filter, say): push an
// Operation with our call and the peers' calls on the same bitmaps, the bytes
// it reads and writes, and `exact` on each peer documented to compute our
// bytes; timing, the bound, the agreement check and the table follow.
// Peers as runs, by their parameters.
#if defined(KOLVEX_HAVE_LIBYUV)
Run LibyuvScale(libyuv::FilterMode filter, int rowStep = 1, int firstRow = 0) {
  return [=](BenchDib& d, const BenchDib& s) { return YuvScale(d, s, filter, rowStep, firstRow); };
}

// libyuv's mirror; a negative height reads the source bottom up.
Run LibyuvMirror(int heightSign) {
  return [=](BenchDib& d, const BenchDib& s) {
    const auto mirror = s.DIBBitCount() == 32 ? libyuv::ARGBMirror : libyuv::RGB24Mirror;
    return mirror(s.GetBytes(), s.DIBBytesPerLine(), d.GetBytes(), d.DIBBytesPerLine(),
                  s.DIBWidth(), heightSign * s.DIBHeight()) == 0;
  };
}
#endif

#if defined(KOLVEX_HAVE_OPENCV)
Run OpenCvResize(int interpolation, int rowStep = 1, int firstRow = 0) {
  return [=](BenchDib& d, const BenchDib& s) {
    cv::Mat out = View(d);
    cv::resize(View(s, rowStep, firstRow), out, out.size(), 0, 0, interpolation);
    return true;
  };
}

Run OpenCvFlip(int code) {
  return [=](BenchDib& d, const BenchDib& s) {
    cv::Mat out = View(d);
    cv::flip(View(s), out, code);
    return true;
  };
}
#endif

// ---- Filters ----

// Brightness alternates between brightening and darkening by the same step,
// so that frames filtered over and over keep their spread of values instead
// of settling at a clamp. Each run (ours, each peer's) alternates on its own;
// the agreement check calls each once, at the first level.
constexpr int kBrightnessLevels[2] = {100, 156};

#if defined(KOLVEX_HAVE_LIBYUV) || defined(KOLVEX_HAVE_OPENCV)
// Our table of a level, which the peers look up.
std::vector<BYTE> BrightnessTable(int level) {
  std::vector<BYTE> t(256);
  const int offset = std::clamp(level - 128, -128, 127);
  for (int v = 0; v < 256; ++v) t[v] = static_cast<BYTE>(std::clamp(v - offset, 0, 255));
  return t;
}
#endif

// `apply(dib, level index)` alternating between the two levels.
template <class Apply>
Run Alternating(Apply apply) {
  return [apply, next = 0](BenchDib& d, const BenchDib&) mutable {
    const bool ok = apply(d, next);
    next ^= 1;
    return ok;
  };
}

#if defined(KOLVEX_HAVE_LIBYUV)
// The tables of both levels in libyuv's layouts: 256 ARGB entries (alpha
// mapped to itself, or like the colours when the bytes are not pixels), and
// the 128 luma rows of 256 entries, all ours.
struct YuvTables {
  std::vector<BYTE> argb[2];
  std::vector<BYTE> bytes[2];
  std::vector<BYTE> luma[2];
};

const YuvTables& YuvBrightnessTables() {
  static const YuvTables tables = [] {
    YuvTables t;
    for (int k = 0; k < 2; ++k) {
      const std::vector<BYTE> map = BrightnessTable(kBrightnessLevels[k]);
      for (int v = 0; v < 256; ++v) {
        for (int c = 0; c < 4; ++c) {
          t.argb[k].push_back(c == 3 ? static_cast<BYTE>(v) : map[v]);
          t.bytes[k].push_back(map[v]);
        }
      }
      for (int y = 0; y < 128; ++y) t.luma[k].insert(t.luma[k].end(), map.begin(), map.end());
    }
    return t;
  }();
  return tables;
}
#endif

#if defined(KOLVEX_HAVE_OPENCV)
// cv::LUT tables of both levels: one channel (applied to every byte) for 24
// bits, four with alpha mapped to itself for 32.
const cv::Mat& OpenCvBrightnessTable(int bits, int k) {
  static const auto tables = [] {
    std::map<std::pair<int, int>, cv::Mat> t;
    for (int level = 0; level < 2; ++level) {
      const std::vector<BYTE> map = BrightnessTable(kBrightnessLevels[level]);
      cv::Mat one(1, 256, CV_8UC1);
      cv::Mat four(1, 256, CV_8UC4);
      for (int v = 0; v < 256; ++v) {
        one.at<BYTE>(v) = map[v];
        four.at<cv::Vec4b>(v) = cv::Vec4b(map[v], map[v], map[v], static_cast<BYTE>(v));
      }
      t[{24, level}] = one;
      t[{32, level}] = four;
    }
    return t;
  }();
  return tables.at({bits, k});
}
#endif

void AddFilters(std::vector<Operation>& ops, const Geometry& g) {
  const double n = static_cast<double>(g.Bytes());
  Operation op;
  if (g.bits != 8) {
    op = {"brightness", g, g, n, n, Alternating([](BenchDib& d, int k) {
            return d.AdjustBrightness(kBrightnessLevels[k]);
          }),
          {}};
#if defined(KOLVEX_HAVE_LIBYUV)
    if (g.bits == 32) {
      op.peers.push_back({"libyuv RGBColorTable", Alternating([](BenchDib& d, int k) {
                            return libyuv::RGBColorTable(d.GetBytes(), d.DIBBytesPerLine(),
                                                         YuvBrightnessTables().argb[k].data(), 0,
                                                         0, d.DIBWidth(), d.DIBHeight()) == 0;
                          }),
                          true});
      op.peers.push_back({"libyuv ARGBColorTable", Alternating([](BenchDib& d, int k) {
                            return libyuv::ARGBColorTable(d.GetBytes(), d.DIBBytesPerLine(),
                                                          YuvBrightnessTables().argb[k].data(), 0,
                                                          0, d.DIBWidth(), d.DIBHeight()) == 0;
                          }),
                          true});
      op.peers.push_back({"libyuv ARGBLumaColorTable", Alternating([](BenchDib& d, int k) {
                            return libyuv::ARGBLumaColorTable(
                                       d.GetBytes(), d.DIBBytesPerLine(), d.GetBytes(),
                                       d.DIBBytesPerLine(), YuvBrightnessTables().luma[k].data(),
                                       d.DIBWidth(), d.DIBHeight()) == 0;
                          }),
                          true});
    } else if (g.RowBytes() % 4 == 0) {
      // The 3-byte pixels of a row as 4-byte groups, every byte mapped alike.
      op.peers.push_back({"libyuv ARGBColorTable on bytes", Alternating([](BenchDib& d, int k) {
                            return libyuv::ARGBColorTable(
                                       d.GetBytes(), d.DIBBytesPerLine(),
                                       YuvBrightnessTables().bytes[k].data(), 0, 0,
                                       d.DIBWidth() * 3 / 4, d.DIBHeight()) == 0;
                          }),
                          true});
    }
#endif
#if defined(KOLVEX_HAVE_OPENCV)
    op.peers.push_back({"OpenCV LUT", Alternating([](BenchDib& d, int k) {
                          cv::Mat m = View(d);
                          cv::LUT(m, OpenCvBrightnessTable(d.DIBBitCount(), k), m);
                          return true;
                        }),
                        true});
#endif
    ops.push_back(op);
  }

  // OpenCV replicates the border pixels where ours are copied: the bytes
  // agree one pixel in from every edge.
  op = {"median 3x3", g, g, n, n,
        [](BenchDib& d, const BenchDib& s) { return d.Median3x3(s); }, {}, 1};
#if defined(KOLVEX_HAVE_OPENCV)
  op.peers.push_back({"OpenCV medianBlur 3", [](BenchDib& d, const BenchDib& s) {
                        cv::Mat out = View(d);
                        cv::medianBlur(View(s), out, 3);
                        return true;
                      }, true});
#endif
  ops.push_back(op);
}

std::vector<Operation> Operations() {
  std::vector<Operation> ops;
  for (int bits : {24, 32}) {
    for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
      const Geometry g{w, h, bits};
      const double n = static_cast<double>(g.Bytes());
      const Geometry half{w / 2, h / 2, bits};
      const Geometry quarter{w / 4, h / 4, bits};
      const Geometry scaled{w * 2 / 3, h * 2 / 3, bits};
      const Geometry same = g;

      Operation op;
      op = {"quarter box", g, half, n, static_cast<double>(half.Bytes()),
            [](BenchDib& d, const BenchDib& s) { return d._GetQuarterDIB(s, 0); }, {}};
#if defined(KOLVEX_HAVE_LIBYUV)
      op.peers.push_back({"libyuv box", LibyuvScale(libyuv::kFilterBox), false});
#endif
#if defined(KOLVEX_HAVE_OPENCV)
      op.peers.push_back({"OpenCV INTER_AREA", OpenCvResize(cv::INTER_AREA), true});
#endif
      ops.push_back(op);

      op = {"quarter field", g, half, n / 2, static_cast<double>(half.Bytes()),
            [](BenchDib& d, const BenchDib& s) { return d._GetQuarterDIB(s, 1); }, {}};
#if defined(KOLVEX_HAVE_LIBYUV)
      op.peers.push_back({"libyuv box on field", LibyuvScale(libyuv::kFilterBox, 2, 1), false});
#endif
#if defined(KOLVEX_HAVE_OPENCV)
      op.peers.push_back(
          {"OpenCV INTER_AREA on field", OpenCvResize(cv::INTER_AREA, 2, 1), false});
#endif
      ops.push_back(op);

      op = {"eighth box", g, quarter, n, static_cast<double>(quarter.Bytes()),
            [](BenchDib& d, const BenchDib& s) { return d._GetEighthDIB(s, 0); }, {}};
#if defined(KOLVEX_HAVE_LIBYUV)
      op.peers.push_back({"libyuv box", LibyuvScale(libyuv::kFilterBox), false});
#endif
#if defined(KOLVEX_HAVE_OPENCV)
      op.peers.push_back({"OpenCV INTER_AREA", OpenCvResize(cv::INTER_AREA), false});
#endif
      ops.push_back(op);

      op = {"eighth field", g, quarter, n / 2, static_cast<double>(quarter.Bytes()),
            [](BenchDib& d, const BenchDib& s) { return d._GetEighthDIB(s, 1); }, {}};
#if defined(KOLVEX_HAVE_LIBYUV)
      op.peers.push_back({"libyuv box on field", LibyuvScale(libyuv::kFilterBox, 2, 1), false});
#endif
      ops.push_back(op);

      // Two of every three source rows are read.
      op = {"scale to 2/3", g, scaled, n * 2 / 3, static_cast<double>(scaled.Bytes()),
            [](BenchDib& d, const BenchDib& s) {
              return d.Scale(s, d.DIBWidth(), d.DIBHeight());
            },
            {}};
#if defined(KOLVEX_HAVE_LIBYUV)
      op.peers.push_back({"libyuv nearest", LibyuvScale(libyuv::kFilterNone), false});
#endif
#if defined(KOLVEX_HAVE_OPENCV)
      op.peers.push_back(
          {"OpenCV INTER_NEAREST_EXACT", OpenCvResize(cv::INTER_NEAREST_EXACT), false});
#endif
      ops.push_back(op);

      op = {"mirror horizontal", g, same, n, n,
            [](BenchDib& d, const BenchDib& s) { return d.Mirror(1, 0, s); }, {}};
#if defined(KOLVEX_HAVE_LIBYUV)
      op.peers.push_back({"libyuv mirror", LibyuvMirror(1), true});
#endif
#if defined(KOLVEX_HAVE_OPENCV)
      op.peers.push_back({"OpenCV flip(1)", OpenCvFlip(1), true});
#endif
      ops.push_back(op);

      op = {"mirror both", g, same, n, n,
            [](BenchDib& d, const BenchDib& s) { return d.Mirror(1, 1, s); }, {}};
#if defined(KOLVEX_HAVE_LIBYUV)
      op.peers.push_back({"libyuv mirror, rows reversed", LibyuvMirror(-1), true});
#endif
#if defined(KOLVEX_HAVE_OPENCV)
      op.peers.push_back({"OpenCV flip(-1)", OpenCvFlip(-1), true});
#endif
      ops.push_back(op);

      op = {"mirror vertical", g, same, n, n,
            [](BenchDib& d, const BenchDib& s) { return d.Mirror(0, 1, s); }, {}};
#if defined(KOLVEX_HAVE_LIBYUV)
      op.peers.push_back({"libyuv copy, rows reversed", [](BenchDib& d, const BenchDib& s) {
                            libyuv::CopyPlane(s.GetBytes(), s.DIBBytesPerLine(), d.GetBytes(),
                                              d.DIBBytesPerLine(),
                                              s.DIBWidth() * s.DIBBitCount() / 8, -s.DIBHeight());
                            return true;
                          }, true});
#endif
#if defined(KOLVEX_HAVE_OPENCV)
      op.peers.push_back({"OpenCV flip(0)", OpenCvFlip(0), true});
#endif
      ops.push_back(op);

      // Field 1 rows are read once (their neighbours come from the cache);
      // every row is written.
      op = {"interpolated frame", g, same, n / 2, n,
            // The even field of an even height is stored field 1.
            [](BenchDib& d, const BenchDib& s) { return d._GetEvenFrame(s, 0, 1); }, {}};
#if defined(KOLVEX_HAVE_LIBYUV)
      op.peers.push_back({"libyuv copy + InterpolatePlane 128", YuvFrame, true});
#endif
      ops.push_back(op);

      op = {"copy field", g, same, n / 2, n / 2,
            [](BenchDib& d, const BenchDib& s) { return d.CopyField(s, 1); }, {}};
#if defined(KOLVEX_HAVE_LIBYUV)
      op.peers.push_back({"libyuv CopyPlane on field", [](BenchDib& d, const BenchDib& s) {
                            const int stride = s.DIBBytesPerLine();
                            const int first = s.DIBHeight() % 2 == 0 ? 0 : 1;  // the odd field
                            libyuv::CopyPlane(s.GetBytes() + first * stride, 2 * stride,
                                              d.GetBytes() + first * stride, 2 * stride, stride,
                                              (s.DIBHeight() - first + 1) / 2);
                            return true;
                          }, true});
#endif
      ops.push_back(op);

      op = {"ClearDIB(UINT)", g, same, 0, n,
            [](BenchDib& d, const BenchDib&) {
              d.ClearDIB(static_cast<UINT>(0x80402010u));
              return true;
            },
            {}};
      if (bits == 32) {
        op.peers.push_back({"std::fill", [](BenchDib& d, const BenchDib&) {
                              auto* p = reinterpret_cast<std::uint32_t*>(d.GetBytes());
                              std::fill(p, p + d.DIBSize() / 4, 0x80402010u);
                              return true;
                            }, true});
#if defined(KOLVEX_HAVE_LIBYUV)
        op.peers.push_back({"libyuv ARGBRect", [](BenchDib& d, const BenchDib&) {
                              return libyuv::ARGBRect(d.GetBytes(), d.DIBBytesPerLine(), 0, 0,
                                                      d.DIBWidth(), d.DIBHeight(),
                                                      0x80402010u) == 0;
                            }, true});
#endif
      }
#if defined(KOLVEX_HAVE_OPENCV)
      op.peers.push_back({"OpenCV setTo", [](BenchDib& d, const BenchDib&) {
                            View(d).setTo(cv::Scalar(0x10, 0x20, 0x40, 0x80));
                            return true;
                          }, true});
#endif
      ops.push_back(op);

      op = {"ClearDIB(int)", g, same, 0, n,
            [](BenchDib& d, const BenchDib&) {
              d.ClearDIB(0x5A);
              return true;
            },
            {{"memset", [](BenchDib& d, const BenchDib&) {
                std::memset(d.GetBytes(), 0x5A, static_cast<std::size_t>(d.DIBSize()));
                return true;
              }, true}}};
      ops.push_back(op);

      AddFilters(ops, g);
    }
  }
  // The median also filters 8-bit images (brightness does not).
  for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) AddFilters(ops, {w, h, 8});
  return ops;
}

// ---- Timing ----

std::string OursName(const Operation& op) { return op.name + "/" + op.source.Name() + "/ours"; }
std::string PeerName(const Operation& op, const Peer& p) {
  return op.name + "/" + op.source.Name() + "/" + p.name;
}
std::string BoundName(const Operation& op) {
  return op.name + "/" + op.source.Name() + "/memcpy bound";
}

void TimeRun(benchmark::State& state, const Operation& op, const Run& run) {
  Pool& sources = Sources(op.source);
  Pool& targets = Targets(op.target, sources.size());
  if (sources.empty() || targets.empty()) {
    state.SkipWithError("out of memory");
    return;
  }
  std::size_t i = 0;
  for (auto _ : state) {
    if (!run(*targets[i], *sources[i])) {
      state.SkipWithError("operation failed");
      break;
    }
    benchmark::ClobberMemory();
    if (++i == sources.size()) i = 0;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() *
                                                    (op.readBytes + op.writeBytes)));
}

// memcpy of read + write bytes between two pools of buffers of that size.
void TimeBound(benchmark::State& state, const Operation& op) {
  const auto bytes = static_cast<std::size_t>(op.readBytes + op.writeBytes);
  static std::map<std::size_t, std::pair<std::vector<std::vector<BYTE>>, std::vector<std::vector<BYTE>>>>
      buffers;
  auto& [from, to] = buffers[bytes];
  if (from.empty()) {
    const std::size_t count = PoolCount(bytes);
    from.assign(count, std::vector<BYTE>(bytes, 1));
    to.assign(count, std::vector<BYTE>(bytes, 2));
  }
  std::size_t i = 0;
  for (auto _ : state) {
    std::memcpy(to[i].data(), from[i].data(), bytes);
    benchmark::ClobberMemory();
    if (++i == from.size()) i = 0;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// ---- Agreement: each peer's bytes against ours, once ----

std::vector<std::string> CheckAgreement(const std::vector<Operation>& ops) {
  std::vector<std::string> lines;
  for (const Operation& op : ops) {
    if (op.peers.empty() || op.readBytes == 0) continue;  // fills agree by construction
    const BenchDib& src = *Sources(op.source)[0];
    // Every run starts from the same random target, so that operations in
    // place have something to work on.
    Pool start = MakePool(op.target, 1, true);
    Pool expected = MakePool(op.target, 1, false);
    Pool actual = MakePool(op.target, 1, false);
    if (start.empty() || expected.empty() || actual.empty()) continue;
    std::memcpy(expected[0]->GetBytes(), start[0]->GetBytes(), op.target.Bytes());
    if (!op.ours(*expected[0], src)) continue;
    for (const Peer& peer : op.peers) {
      std::memcpy(actual[0]->GetBytes(), start[0]->GetBytes(), op.target.Bytes());
      if (!peer.run(*actual[0], src)) {
        lines.push_back(op.name + " " + op.source.Name() + " vs " + peer.name + ": peer failed");
        continue;
      }
      std::size_t differ = 0;
      std::size_t total = 0;
      int largest = 0;
      const std::size_t pixelBytes = static_cast<std::size_t>(op.target.bits / 8);
      const std::size_t skip = static_cast<std::size_t>(op.border) * pixelBytes;
      for (int r = op.border; r < op.target.height - op.border; ++r) {
        const BYTE* a = expected[0]->GetBytes() + r * op.target.Stride();
        const BYTE* b = actual[0]->GetBytes() + r * op.target.Stride();
        for (std::size_t c = skip; c + skip < op.target.RowBytes(); ++c, ++total) {
          if (a[c] != b[c]) {
            ++differ;
            largest = std::max(largest, std::abs(a[c] - b[c]));
          }
        }
      }
      char line[256];
      if (differ == 0) {
        std::snprintf(line, sizeof line, "%-18s %-14s vs %-34s identical%s", op.name.c_str(),
                      op.source.Name().c_str(), peer.name.c_str(),
                      peer.exact ? " (as expected)" : "");
      } else {
        std::snprintf(line, sizeof line,
                      "%-18s %-14s vs %-34s %s: %.2f%% of bytes differ, by up to %d",
                      op.name.c_str(), op.source.Name().c_str(), peer.name.c_str(),
                      peer.exact ? "MISMATCH" : "not exact",
                      100.0 * static_cast<double>(differ) / static_cast<double>(total), largest);
      }
      lines.emplace_back(line);
    }
  }
  return lines;
}

// ---- Summary: medians (or single runs) per benchmark name ----

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::string name = run.run_name.function_name;
      const double ms = run.GetAdjustedCPUTime() * Scale(run.time_unit);
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") medians_[name] = ms;
      } else {
        singles_[name].push_back(ms);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Milliseconds per call, or a negative value when not measured.
  double Ms(const std::string& name) const {
    if (auto it = medians_.find(name); it != medians_.end()) return it->second;
    auto it = singles_.find(name);
    if (it == singles_.end() || it->second.empty()) return -1;
    std::vector<double> v = it->second;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  }

 private:
  static double Scale(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kNanosecond:
        return 1e-6;
      case benchmark::kMicrosecond:
        return 1e-3;
      case benchmark::kMillisecond:
        return 1;
      default:
        return 1e3;
    }
  }
  std::map<std::string, double> medians_;
  std::map<std::string, std::vector<double>> singles_;
};

void PrintSummary(const std::vector<Operation>& ops, const SummaryReporter& times) {
  std::printf("\n%-18s %-14s %9s %9s %-34s %9s %8s %8s\n", "operation", "frame", "ours ms",
              "bound ms", "fastest peer", "peer ms", "/peer", "/bound");
  for (const Operation& op : ops) {
    const double ours = times.Ms(OursName(op));
    const double bound = times.Ms(BoundName(op));
    if (ours < 0) continue;
    std::string best = "-";
    double peerMs = -1;
    for (const Peer& p : op.peers) {
      const double t = times.Ms(PeerName(op, p));
      if (t >= 0 && (peerMs < 0 || t < peerMs)) {
        peerMs = t;
        best = p.name;
      }
    }
    char peerCol[16] = "-";
    char peerRatio[16] = "-";
    char boundRatio[16] = "-";
    char boundCol[16] = "-";
    if (peerMs >= 0) {
      std::snprintf(peerCol, sizeof peerCol, "%.3f", peerMs);
      std::snprintf(peerRatio, sizeof peerRatio, "%.2f", ours / peerMs);
    }
    if (bound >= 0) {
      std::snprintf(boundCol, sizeof boundCol, "%.3f", bound);
      std::snprintf(boundRatio, sizeof boundRatio, "%.2f", ours / bound);
    }
    std::printf("%-18s %-14s %9.3f %9s %-34s %9s %8s %8s\n", op.name.c_str(),
                op.source.Name().c_str(), ours, boundCol, best.c_str(), peerCol, peerRatio,
                boundRatio);
  }
}

bool ApplyOwnFlags(int& argc, char** argv) {
  using kolvex::testing::KernelLevel;
  const std::map<std::string, KernelLevel> levels = {{"plain", KernelLevel::Plain},
                                                     {"sse2", KernelLevel::SSE2},
                                                     {"avx2", KernelLevel::AVX2},
                                                     {"avx512", KernelLevel::AVX512}};
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--hot") {
      g_hot = true;
      continue;
    }
    if (arg.rfind("--level=", 0) == 0) {
      auto it = levels.find(arg.substr(8));
      if (it == levels.end() || !kolvex::testing::SetKernelLevel(it->second)) {
        std::fprintf(stderr, "unknown or unsupported level: %s\n", arg.c_str());
        return false;
      }
      continue;
    }
    argv[out++] = argv[i];
  }
  argc = out;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!ApplyOwnFlags(argc, argv)) return 2;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
#if defined(KOLVEX_HAVE_OPENCV)
  cv::setNumThreads(1);
#endif
  static const std::vector<Operation> ops = Operations();
  for (const Operation& op : ops) {
    benchmark::RegisterBenchmark(OursName(op).c_str(), [&op](benchmark::State& s) {
      TimeRun(s, op, op.ours);
    })->Unit(benchmark::kMillisecond);
    for (const Peer& p : op.peers) {
      benchmark::RegisterBenchmark(PeerName(op, p).c_str(), [&op, &p](benchmark::State& s) {
        TimeRun(s, op, p.run);
      })->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark(BoundName(op).c_str(), [&op](benchmark::State& s) {
      TimeBound(s, op);
    })->Unit(benchmark::kMillisecond);
  }

  std::printf("kernel level %d; %s; libyuv %s; OpenCV %s; last-level cache %zu MiB\n",
              static_cast<int>(kolvex::testing::GetKernelLevel()),
              g_hot ? "one frame, hot" : "frames cycled from pools",
#if defined(KOLVEX_HAVE_LIBYUV)
              "yes",
#else
              "not found",
#endif
#if defined(KOLVEX_HAVE_OPENCV)
              "yes",
#else
              "not found",
#endif
              LastLevelCacheBytes() >> 20);
  std::printf("\nAgreement with our bytes:\n");
  for (const std::string& line : CheckAgreement(ops)) std::printf("  %s\n", line.c_str());
  std::printf("\n");

  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(ops, reporter);
  benchmark::Shutdown();
  return 0;
}
