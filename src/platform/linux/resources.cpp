// The resource table.

#include <kolvex/platform/linux/resources.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

// A resource name or type: an integer, or an upper-cased string.
struct Key {
  bool isInt = true;
  WORD id = 0;
  std::string text;

  bool operator==(const Key&) const = default;
};

// "#123" is the integer 123, as on Windows; other strings compare upper-cased.
Key KeyOf(LPCSTR p) {
  Key k;
  if (IS_INTRESOURCE(p)) {
    k.id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(p));
    return k;
  }
  if (p[0] == '#' && p[1] != '\0') {
    char* end = nullptr;
    const unsigned long v = std::strtoul(p + 1, &end, 10);
    if (*end == '\0' && v <= 0xFFFF) {
      k.id = static_cast<WORD>(v);
      return k;
    }
  }
  k.isInt = false;
  for (const char* c = p; *c != '\0'; ++c) {
    k.text.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(*c))));
  }
  return k;
}

HMODULE Normalise(HMODULE m) { return m != nullptr ? m : GetModuleHandleA(nullptr); }

struct Resource {
  HMODULE module;
  Key name;
  Key type;
  std::vector<BYTE> bytes;
  bool live = true;
  std::uint32_t generation = 0;  // bumped when a removed slot is used again, never wrapped
  std::uint64_t serial = 0;      // order of registration: the latest one wins
};

// The module, name and type that a lookup or a removal matches.
struct Query {
  HMODULE module;
  Key name;
  Key type;
  Query(HMODULE m, LPCSTR n, LPCSTR t) : module(Normalise(m)), name(KeyOf(n)), type(KeyOf(t)) {}
  bool operator()(const Resource& r) const {
    return r.live && r.module == module && r.name == name && r.type == type;
  }
};

struct Table {
  std::mutex lock;
  std::deque<Resource> resources;      // a deque: entries never move
  std::vector<std::size_t> freeSlots;  // slots of removed entries that may be used again
  std::uint64_t serials = 0;
};

Table& T() {
  static Table* const table = new Table();  // never destroyed
  return *table;
}

// HRSRC and HGLOBAL values: the entry index + 1 and the slot's generation,
// tagged so that one kind of handle is never taken for the other, and a handle
// of a removed entry never reaches the entry that reuses its slot.
constexpr std::uint64_t kInfoTag = std::uint64_t{0x52} << 40;
constexpr std::uint64_t kDataTag = std::uint64_t{0x44} << 40;
constexpr std::uint64_t kIndexMask = (std::uint64_t{1} << 24) - 1;
constexpr std::uint64_t kGenerationMask = ((std::uint64_t{1} << 40) - 1) & ~kIndexMask;
// A slot whose generation has reached the largest the handle holds is never
// used again: a wrapped generation would hand a stale handle a new resource.
constexpr std::uint32_t kLastGeneration = static_cast<std::uint32_t>(kGenerationMask >> 24);

std::uint64_t HandleValue(std::uint64_t tag, std::size_t index, const Resource& r) {
  return tag | (std::uint64_t{r.generation} << 24) | (index + 1);
}

// The entry a tagged handle names, or null. Table locked by the caller.
Resource* Entry(const void* h, std::uint64_t tag) {
  const auto v = reinterpret_cast<std::uint64_t>(h);
  if ((v & ~(kIndexMask | kGenerationMask)) != tag) return nullptr;
  const std::uint64_t index = v & kIndexMask;
  if (index == 0 || index > T().resources.size()) return nullptr;
  Resource& r = T().resources[index - 1];
  if (!r.live || HandleValue(tag, index - 1, r) != v) return nullptr;
  return &r;
}

}  // namespace

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
  if (lpModuleName != nullptr) return nullptr;
  return reinterpret_cast<HMODULE>(std::uintptr_t{0x400000});  // never dereferenced
}

HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
  if (lpName == nullptr || lpType == nullptr) return nullptr;
  try {
    const Query matches(hModule, lpName, lpType);
    Table& t = T();
    std::lock_guard<std::mutex> guard(t.lock);
    const Resource* latest = nullptr;
    std::size_t at = 0;
    for (std::size_t i = 0; i < t.resources.size(); ++i) {
      const Resource& r = t.resources[i];
      if (matches(r) && (latest == nullptr || r.serial > latest->serial)) {
        latest = &r;
        at = i;
      }
    }
    if (latest != nullptr) return reinterpret_cast<HRSRC>(HandleValue(kInfoTag, at, *latest));
  } catch (const std::bad_alloc&) {
  }
  return nullptr;
}

HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo) {
  Table& t = T();
  std::lock_guard<std::mutex> guard(t.lock);
  const Resource* r = Entry(hResInfo, kInfoTag);
  if (r == nullptr || r->module != Normalise(hModule)) return nullptr;
  return reinterpret_cast<HGLOBAL>(reinterpret_cast<std::uint64_t>(hResInfo) ^ kInfoTag ^ kDataTag);
}

LPVOID LockResource(HGLOBAL hResData) {
  Table& t = T();
  std::lock_guard<std::mutex> guard(t.lock);
  Resource* r = Entry(hResData, kDataTag);
  return r != nullptr ? r->bytes.data() : nullptr;
}

DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  Table& t = T();
  std::lock_guard<std::mutex> guard(t.lock);
  const Resource* r = Entry(hResInfo, kInfoTag);
  if (r == nullptr || r->module != Normalise(hModule)) return 0;
  return static_cast<DWORD>(r->bytes.size());
}

namespace kolvex::platform {

bool AddResource(HINSTANCE module, LPCSTR name, LPCSTR type, const void* data, DWORD size) {
  if (name == nullptr || type == nullptr || (data == nullptr && size != 0)) return false;
  if ((!IS_INTRESOURCE(name) && name[0] == '\0') || (!IS_INTRESOURCE(type) && type[0] == '\0')) {
    return false;
  }
  try {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    Resource r{Normalise(module), KeyOf(name), KeyOf(type), std::vector<BYTE>(bytes, bytes + size)};
    r.bytes.reserve(1);  // LockResource answers a non-null pointer even for no bytes
    Table& t = T();
    std::lock_guard<std::mutex> guard(t.lock);
    r.serial = ++t.serials;
    if (!t.freeSlots.empty()) {
      Resource& slot = t.resources[t.freeSlots.back()];
      r.generation = slot.generation + 1;
      slot = std::move(r);
      t.freeSlots.pop_back();
    } else if (t.resources.size() < kIndexMask) {
      t.resources.push_back(std::move(r));
    } else {
      return false;
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool RemoveResource(HINSTANCE module, LPCSTR name, LPCSTR type) {
  if (name == nullptr || type == nullptr) return false;
  try {
    const Query matches(module, name, type);
    Table& t = T();
    std::lock_guard<std::mutex> guard(t.lock);
    t.freeSlots.reserve(t.resources.size());  // so that nothing below can throw
    bool removed = false;
    for (std::size_t i = 0; i < t.resources.size(); ++i) {
      Resource& r = t.resources[i];
      if (matches(r)) {
        r.live = false;
        std::vector<BYTE>().swap(r.bytes);
        if (r.generation < kLastGeneration) t.freeSlots.push_back(i);
        removed = true;
      }
    }
    return removed;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace kolvex::platform
