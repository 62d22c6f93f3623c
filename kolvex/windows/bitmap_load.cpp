// CRZDIB2: loading bitmap files from memory and from disk.

#include <kolvex/base/size.h>
#include <kolvex/platform/allocation.h>
#include <kolvex/windows/bmp_format.h>
#include <kolvex/windows/dib.h>

#include <cstdint>
#include <memory>

namespace {

// Larger files cannot hold an image the library would load.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;

}  // namespace

bool CRZDIB2::CreateFromMemory(const void* data, std::size_t size) {
  Delete();
  kolvex::detail::BitmapPlan plan;
  const auto* bytes = static_cast<const BYTE*>(data);
  if (kolvex::detail::ParseBitmap(bytes, size, kolvex::detail::BitmapSource::File, plan) !=
      nullptr) {
    return false;
  }
  // Create refuses what does not fit and answers false when memory runs out.
  if (!Create(plan.bits, plan.width, plan.height, 1)) return false;
  kolvex::detail::ConvertImage(plan, bytes, GetBytes());
  return true;
}

bool CRZDIB2::CreateFromFile(const char* path) {
  Delete();
  CFile file;
  if (path == nullptr || !file.Open(path, CFile::modeRead)) return false;
  try {
    const ULONGLONG size = file.GetLength();
    if (size > kMaxFileBytes) return false;
    const std::unique_ptr<BYTE[]> buffer(kolvex::detail::NewArray<BYTE>(static_cast<std::size_t>(size)));
    // A file that shrank meanwhile is refused by the parser.
    const UINT read = file.Read(buffer.get(), static_cast<UINT>(size));
    return CreateFromMemory(buffer.get(), read);
  } catch (CException* e) {
    e->Delete();
    return false;
  }
}
