#include "agreement.h"

#include "pools.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace compare {
namespace {

std::map<const Operation*, std::vector<std::string>> g_lines;

std::string Line(const Operation& op, const std::string& peer, const std::string& verdict) {
  char line[256];
  std::snprintf(line, sizeof line, "%-24s %-14s vs %-34s %s", op.name.c_str(),
                op.source.Name().c_str(), peer.c_str(), verdict.c_str());
  return line;
}

std::unique_ptr<BenchDib> CopyOf(const BenchDib& dib, const Geometry& g) {
  auto copy = MakeFrame(g, false);
  if (copy) std::memcpy(copy->GetBytes(), dib.GetBytes(), g.Bytes());
  return copy;
}

Geometry GeometryOf(const CRZDIB2& dib) {
  return {dib.DIBWidth(), dib.DIBHeight(), dib.DIBBitCount()};
}

// How `actual` differs from `expected`, `border` pixels in from each edge,
// padding bytes left out.
std::string Verdict(const CRZDIB2& expected, const CRZDIB2& actual, const Geometry& g, int border,
                    bool exact) {
  std::size_t differ = 0;
  std::size_t total = 0;
  int largest = 0;
  const std::size_t skip = static_cast<std::size_t>(border) * static_cast<std::size_t>(g.bits / 8);
  for (int r = border; r < g.height - border; ++r) {
    const BYTE* a = expected.GetBytes() + r * g.Stride();
    const BYTE* b = actual.GetBytes() + r * g.Stride();
    for (std::size_t c = skip; c + skip < g.RowBytes(); ++c, ++total) {
      if (a[c] != b[c]) {
        ++differ;
        largest = std::max(largest, std::abs(a[c] - b[c]));
      }
    }
  }
  if (differ == 0) return exact ? "identical (as expected)" : "identical";
  char verdict[128];
  std::snprintf(verdict, sizeof verdict, "%s: %.2f%% of bytes differ, by up to %d",
                exact ? "MISMATCH" : "not exact",
                100.0 * static_cast<double>(differ) / static_cast<double>(total), largest);
  return verdict;
}

// Every run starts from the same frame: noise for a kernel's destination made
// beforehand and for an operation in place; for a call that makes its result,
// ours starts empty and the peer's buffer, like a new frame, reads zero.
std::vector<std::string> Check(const Operation& op, const BenchDib& source) {
  const bool makesResult = op.section == Section::AsCalled && !op.inPlace;
  const auto start = MakeFrame(op.target, !makesResult);
  if (!start) return {Line(op, "", "no memory to check")};
  std::unique_ptr<CRZDIB2> expected;
  if (makesResult) {
    expected = std::make_unique<CRZDIB2>();
  } else {
    expected = CopyOf(*start, op.target);
  }
  if (!expected) return {Line(op, "", "no memory to check")};
  if (!op.ours(*expected, source)) return {Line(op, "", "ours failed")};
  if (!(GeometryOf(*expected) == op.target)) {
    return {Line(op, "", "MISMATCH: ours made " + GeometryOf(*expected).Name())};
  }
  std::vector<std::string> lines;
  for (const Peer& peer : op.peers) {
    const auto actual = CopyOf(*start, op.target);
    if (!actual || !peer.run(*actual, source)) {
      lines.push_back(Line(op, peer.name, "peer failed"));
      continue;
    }
    lines.push_back(
        Line(op, peer.name, Verdict(*expected, *actual, op.target, op.border, peer.exact)));
  }
  return lines;
}

}  // namespace

void CheckAgreementOnce(const Operation& op, const BenchDib& source) {
  if (op.peers.empty() || g_lines.count(&op) != 0) return;
  g_lines[&op] = Check(op, source);
}

std::vector<std::string> AgreementLines(const Operations& ops) {
  std::vector<std::string> lines;
  for (const Operation& op : ops) {
    auto it = g_lines.find(&op);
    if (it != g_lines.end()) lines.insert(lines.end(), it->second.begin(), it->second.end());
  }
  return lines;
}

}  // namespace compare
