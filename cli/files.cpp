#include "files.h"

#include "interrupt.h"
#include "os.h"

#include <kolvex/platform/mfc.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <set>

namespace kolvex::cli {

namespace {

// Large writes and reads go in pieces, so that a signal is seen between them.
constexpr std::size_t kChunkBytes = std::size_t{4} << 20;

const auto kRunStart = std::filesystem::file_time_type::clock::now();

std::string ErrnoText(const char* what, int error) {
  return std::string(what) + " (" + std::strerror(error) + ")";
}

// Closes a descriptor on every path out of a function.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of(os::kPathSeparators);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// A CFile over a descriptor, so that the library reads inputs and SaveAs
// streams outputs through the tool's own pieces and signal checks, never
// holding a whole file only to copy it. A failure travels through the library
// as a framework exception and is rethrown afterwards as it was.
class DescriptorFile : public CFile {
 public:
  DescriptorFile(int fd, const std::string& name) : fd_(fd), name_(name) {}
  UINT Read(void* data, UINT count) override {
    return Keeping(
        [&] { return static_cast<UINT>(ReadFully(fd_, static_cast<BYTE*>(data), count, name_)); });
  }
  void Write(const void* data, UINT count) override {
    Keeping([&] {
      WriteFully(fd_, static_cast<const BYTE*>(data), count, name_);
      return count;
    });
  }
  // Inputs are read from their start and outputs written from theirs.
  ULONGLONG GetPosition() const override { return position_; }
  ULONGLONG GetLength() const override { return os::RegularFileSize(fd_).value_or(0); }
  bool IsRegularFile() const override { return os::RegularFileSize(fd_).has_value(); }
  void RethrowFailure() const {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  // Runs one transfer, counting its bytes; its failure is kept for
  // RethrowFailure and thrown on as a CFileException*.
  template <class Transfer>
  UINT Keeping(const Transfer& transfer) {
    try {
      const UINT done = transfer();
      position_ += done;
      return done;
    } catch (...) {
      failure_ = std::current_exception();
      AfxThrowFileException(CFileException::genericException);
    }
  }

  int fd_;
  const std::string& name_;
  std::exception_ptr failure_;
  ULONGLONG position_ = 0;
};

// Encodes `dib` into `file`; throws what the file's writes met.
void Encode(CRZDIB2& dib, bool alpha, DescriptorFile& file, const std::string& name) {
  bool saved = false;
  try {
    saved = alpha ? kolvex::SaveWithAlpha(dib, file) : dib.SaveAs(file);
  } catch (CException* e) {
    e->Delete();
  }
  file.RethrowFailure();
  if (!saved) throw FileError(name, "cannot encode the bitmap");
}

// Removes the temporary files that earlier runs left in `dir`: ours by name,
// older than this run, and their process gone. Once per directory and run.
void RemoveStaleTemporaries(const std::string& dir) {
  static std::mutex lock;
  static std::set<std::string> visited;
  const std::lock_guard<std::mutex> hold(lock);
  if (!visited.insert(dir).second) return;
  const std::string prefix = kTemporaryPrefix;
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    std::error_code ignored;
    const auto written = it->last_write_time(ignored);
    if (ignored || written >= kRunStart || pid == os::ProcessId() || os::ProcessRuns(pid)) continue;
    std::filesystem::remove(it->path(), ignored);
  }
}

// Writes in place: a pipe or a device, which a rename would replace.
void SaveInPlace(CRZDIB2& dib, bool alpha, const std::string& target, const std::string& path) {
  Descriptor out;
  out.fd = os::OpenInPlaceForWriting(target);
  if (out.fd < 0) {
    throw FileError(path, errno == ENXIO ? "cannot write (no process reads the pipe)"
                                         : ErrnoText("cannot write", errno));
  }
  DescriptorFile file(out.fd, path);
  Encode(dib, alpha, file, path);
}

}  // namespace

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of(os::kPathSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameFile(const std::string& a, const std::string& b) { return os::SameFile(a, b); }

void EnsureDirectory(const std::string& dir) {
  if (!os::MakeDirectory(dir)) {
    if (errno == ENOENT) {
      throw FileError(dir, "cannot create the directory: " + DirectoryOf(dir) + " does not exist");
    }
    throw FileError(dir, ErrnoText("cannot create the directory", errno));
  }
  if (os::KindOf(dir) != os::PathKind::Directory) throw FileError(dir, "not a directory");
}

std::size_t ReadFully(int fd, BYTE* data, std::size_t size, const std::string& name) {
  std::size_t done = 0;
  while (done < size) {
    StopIfInterrupted();
    const auto n = ::read(fd, data + done, std::min(size - done, kChunkBytes));
    if (n < 0 && errno == EAGAIN) {
      os::WaitReady(fd, false);  // ends on a signal too, which the next round sees
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw FileError(name, ErrnoText("cannot read", errno));
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void WriteFully(int fd, const BYTE* data, std::size_t size, const std::string& name) {
  while (size > 0) {
    StopIfInterrupted();
    const auto n = ::write(fd, data, std::min(size, kChunkBytes));
    if (n < 0 && errno == EAGAIN) {
      os::WaitReady(fd, true);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw FileError(name, ErrnoText("cannot write", errno));
    if (n == 0) throw FileError(name, ErrnoText("cannot write", ENOSPC));
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void WithInputFile(const std::string& path, const std::function<void(CFile&)>& use) {
  Descriptor opened;
  opened.fd = os::OpenForReading(path);
  if (opened.fd < 0) throw FileError(path, ErrnoText("cannot open", errno));
  DescriptorFile file(opened.fd, path);
  try {
    use(file);
  } catch (CException* e) {
    e->Delete();
    file.RethrowFailure();
    throw FileError(path, "cannot read");
  } catch (...) {
    file.RethrowFailure();
    throw;
  }
}

void LoadBitmap(const std::string& path, CRZDIB2& dib, bool* alpha) {
  WithInputFile(path, [&](CFile& file) {
    const char* why = nullptr;
    if (!dib.CreateFromFile(file, &why)) throw FileError(path, why);
  });
  if (alpha != nullptr) *alpha = CarriesAlpha(dib);
}

void CheckWritable(const CRZDIB2& dib, const std::string& name) {
  if (dib.DIBWidth() <= 0 || dib.DIBHeight() <= 0) {
    throw FileError(name, "the result is " + std::to_string(dib.DIBWidth()) + " x " +
                              std::to_string(dib.DIBHeight()) +
                              " pixels, which no bitmap file can hold; nothing written");
  }
}

void WriteBitmap(CRZDIB2& dib, bool alpha, int fd, const std::string& name) {
  CheckWritable(dib, name);
  DescriptorFile file(fd, name);
  Encode(dib, alpha, file, name);
}

void SaveBitmap(CRZDIB2& dib, const std::string& path, bool alpha) {
  CheckWritable(dib, path);
  StopIfInterrupted();
  std::string target = path;
  if (!os::FollowLinks(target)) throw FileError(path, ErrnoText("cannot write", errno));
  const os::PathKind kind = os::KindOf(target);
  if (kind == os::PathKind::Directory) throw FileError(path, "cannot write (it is a directory)");
  if (kind == os::PathKind::Other) {
    SaveInPlace(dib, alpha, target, path);
    return;
  }
  const bool replacing = kind == os::PathKind::Regular;
  if (replacing && !os::MayWrite(target)) throw FileError(path, ErrnoText("cannot write", EACCES));

  const std::string dir = DirectoryOf(target);
  RemoveStaleTemporaries(dir);
  std::string temp = dir + "/" + kTemporaryPrefix + std::to_string(os::ProcessId()) + "-XXXXXX";
  Descriptor out;
  out.fd = os::CreateUniqueFile(temp);
  if (out.fd < 0) throw FileError(path, ErrnoText("cannot write", errno));
  const PendingFile pending(temp);
  try {
    if (replacing && !os::KeepPermissions(out.fd, target)) {
      throw FileError(path, ErrnoText("cannot keep the permissions", errno));
    }
    DescriptorFile file(out.fd, path);
    Encode(dib, alpha, file, path);
    if (!os::FlushToDisk(out.fd)) throw FileError(path, ErrnoText("cannot write", errno));
    const int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0) throw FileError(path, ErrnoText("cannot write", errno));
    // The last moment to give up: after the rename the output is whole.
    StopIfInterrupted();
    if (!os::ReplaceFile(temp, target)) throw FileError(path, ErrnoText("cannot write", errno));
  } catch (...) {
    if (out.fd >= 0) {
      ::close(out.fd);
      out.fd = -1;
    }
    std::remove(temp.c_str());
    throw;
  }
}

}  // namespace kolvex::cli
