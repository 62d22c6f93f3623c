// Debts of zeros: a few records, found without a lock, claimed and freed
// under one.

#include "core/owed_zeros.h"

#include "core/bands.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace kolvex::detail {
namespace {

// Frames made and then written by one operation owe for a moment only: a
// few records serve a few streams at once, and beyond them Create clears.
constexpr int kRecords = 16;

struct Record {
  std::atomic<const CRzDibBaseData2*> block{nullptr};
  BYTE* begin = nullptr;
  BYTE* end = nullptr;
};

Record g_records[kRecords];
std::atomic<int> g_owing{0};
std::mutex g_claims;

thread_local const CRZDIBBase2* t_clearLater = nullptr;

// The debt of `block`, no longer recorded, or nothing.
std::pair<BYTE*, BYTE*> Take(const CRzDibBaseData2* block) noexcept {
  if (g_owing.load(std::memory_order_relaxed) == 0) return {};
  for (Record& r : g_records) {
    if (r.block.load(std::memory_order_acquire) != block) continue;
    const std::pair<BYTE*, BYTE*> debt{r.begin, r.end};
    std::lock_guard<std::mutex> lock(g_claims);
    r.block.store(nullptr, std::memory_order_relaxed);
    g_owing.fetch_sub(1, std::memory_order_relaxed);
    return debt;
  }
  return {};
}

void Clear(BYTE* begin, BYTE* end) noexcept {
  if (begin < end) FillBytes(begin, 0, static_cast<std::size_t>(end - begin));
}

}  // namespace

ClearLater::ClearLater(const CRZDIBBase2& owner) : outer_(t_clearLater) { t_clearLater = &owner; }

ClearLater::~ClearLater() { t_clearLater = outer_; }

bool MayClearLater(const CRZDIBBase2& owner) {
  if (t_clearLater != &owner) return false;
  t_clearLater = nullptr;
  return true;
}

bool OweZeros(const CRzDibBaseData2* block, BYTE* begin, BYTE* end) {
  std::lock_guard<std::mutex> lock(g_claims);
  for (Record& r : g_records) {
    if (r.block.load(std::memory_order_relaxed) != nullptr) continue;
    r.begin = begin;
    r.end = end;
    r.block.store(block, std::memory_order_release);
    g_owing.fetch_add(1, std::memory_order_relaxed);
    return true;
  }
  return false;
}

void PayZeros(const CRzDibBaseData2* block) noexcept {
  const auto [begin, end] = Take(block);
  Clear(begin, end);
}

void ForgetZeros(const CRzDibBaseData2* block) noexcept { Take(block); }

OwedZeros::OwedZeros(const CRzDibBaseData2* block) noexcept {
  std::tie(begin_, end_) = Take(block);
}

OwedZeros::~OwedZeros() { Clear(begin_, end_); }

void OwedZeros::WrittenUpTo(BYTE* end) noexcept {
  if (begin_ != nullptr && end > begin_) begin_ = end;
}

}  // namespace kolvex::detail
