// CRZDIB2: loading bitmap files from memory and from disk.

#include <kolvex/base/size.h>
#include <kolvex/platform/allocation.h>
#include <kolvex/windows/bmp_format.h>
#include <kolvex/windows/dib.h>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Larger files cannot hold an image the library would load.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;

// Closes a descriptor on every path out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads up to `size` bytes; answers how many arrived before the end of the file
// or an error (a file that shrank meanwhile is then refused by the parser).
std::size_t ReadAll(int fd, BYTE* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

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
  if (path == nullptr) return false;
  int fd = -1;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  const Descriptor file(fd);
  if (file.get() < 0) return false;
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
      static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) {
    return false;
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  try {
    const std::unique_ptr<BYTE[]> buffer(kolvex::detail::NewArray<BYTE>(size));
    return CreateFromMemory(buffer.get(), ReadAll(file.get(), buffer.get(), size));
  } catch (CMemoryException* e) {
    e->Delete();
    return false;
  }
}
