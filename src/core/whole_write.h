// Internal: buffers that their maker writes whole, so that storage which zeroes
// what it hands out (reused pages) may leave them as they are.
//
// A promise covers one buffer: the next one that the storage hook of one
// object makes for exactly the promised number of header and image bytes, on
// the promising thread. Only code that writes every one of those bytes itself
// before anything can read them makes one: the copy before a write, and the
// transforms while every step they call between the creation and the last
// pixel is the library's own (a client class may replace a step, and its
// replacement may write less).
#pragma once

#include <kolvex/core/dib_base.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kolvex::detail {

class WholeWrite {
 public:
  // No promise at all unless `keep`: callers decide in one place.
  WholeWrite(const CRZDIBBase2& owner, std::size_t bytes, bool keep = true);
  ~WholeWrite();
  WholeWrite(const WholeWrite&) = delete;
  WholeWrite& operator=(const WholeWrite&) = delete;

  // Passes `written` on. When the maker could not write (false) and a storage
  // hook relied on the promise, clears owner's image, so that it reads as
  // fresh storage would.
  bool Kept(const CRZDIBBase2& owner, bool written) const;

 private:
  friend bool TakeWholeWrite(const CRZDIBBase2& owner, std::size_t bytes);

  struct Promise {
    const CRZDIBBase2* owner = nullptr;  // null: none, or used up
    std::size_t bytes = 0;
    bool taken = false;  // a storage hook relied on it
  };
  static thread_local Promise current_;  // the innermost promise of the thread
  Promise outer_;                        // the one this hides, put back at the end
};

// The header and image bytes of the buffer that Create makes for this
// geometry, when its rows have no padding (a maker that writes every pixel
// then writes the image whole); 0 otherwise.
std::size_t WholeRowsBytes(WORD bitCount, LONG width, LONG height);

// Create(WORD, int, int, DWORD), for RunsOwn.
inline constexpr auto kCreate =
    static_cast<bool (CRZDIBBase2::*)(WORD, int, int, DWORD)>(&CRZDIBBase2::Create);

// For a storage hook about to make a buffer of `bytes` for `owner`: whether a
// promise covers it. The promise is then used up.
bool TakeWholeWrite(const CRZDIBBase2& owner, std::size_t bytes);

// The entry of `object`'s virtual table that the pointer to a virtual member
// `member` names, read as the Itanium C++ ABI lays them out (g++ and clang, on
// Linux and mingw): an object starts with the address of its table, and such a
// pointer holds 1 + the byte offset of the entry. Null when `member` is not
// laid out so.
template <class Member>
const void* VirtualEntry(const CRZDIBBase2& object, Member member) {
  struct Representation {
    std::uintptr_t ptr;
    std::ptrdiff_t adj;
  };
  static_assert(sizeof member == sizeof(Representation));
  Representation rep;
  std::memcpy(&rep, &member, sizeof rep);
  if ((rep.ptr & 1) == 0 || rep.adj != 0) return nullptr;
  // The first bytes of the object are the table's address: read as plain
  // bytes (the object itself is never copied).
  const void* const start = &object;
  const char* table = nullptr;
  std::memcpy(&table, start, sizeof table);
  const void* function = nullptr;
  std::memcpy(&function, table + (rep.ptr - 1), sizeof function);
  return function;
}

// An object of a class that replaces no member: its table holds the library's
// own definitions.
const CRZDIBBase2& OwnDefinitions();

// Whether `object` runs the library's own definition of every one of
// `members` (pointers to virtual members of CRZDIBBase2): no client class has
// replaced any of them. False, which only costs speed, where a member pointer
// is laid out otherwise or a system gives one function two addresses.
template <class... Members>
bool RunsOwn(const CRZDIBBase2& object, Members... members) {
  return ((VirtualEntry(object, members) != nullptr &&
           VirtualEntry(object, members) == VirtualEntry(OwnDefinitions(), members)) &&
          ...);
}

}  // namespace kolvex::detail
