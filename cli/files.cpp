#include "files.h"

#include "os.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace kolvex::cli {

namespace {

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
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Errors inside SaveBitmap travel as errno values to its one clean-up handler.
void WriteAll(int fd, const BYTE* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw errno;
    if (n == 0) throw ENOSPC;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of(os::kPathSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameFile(const std::string& a, const std::string& b) { return os::SameFile(a, b); }

void LoadBitmap(const std::string& path, CRZDIB2& dib) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw FileError(path, "not a regular file");
  }
  CFile file;
  CFileException error;
  if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite, &error)) {
    throw FileError(path, ErrnoText("cannot open", os::ErrnoOf(error.m_lOsError)));
  }
  const char* why = nullptr;
  bool loaded = false;
  try {
    loaded = dib.CreateFromFile(file, &why);
  } catch (CFileException* e) {
    const int error = os::ErrnoOf(e->m_lOsError);
    e->Delete();
    throw FileError(path, ErrnoText("cannot read", error));
  }
  if (!loaded) throw FileError(path, why);
}

void SaveBitmap(CRZDIB2& dib, const std::string& path) {
  CMemFile image;
  bool saved = false;
  try {
    saved = dib.SaveAs(image);
  } catch (CException* e) {
    e->Delete();
  }
  if (!saved) throw FileError(path, "cannot encode the bitmap");
  const ULONGLONG length = image.GetLength();
  std::unique_ptr<BYTE, decltype(&std::free)> bytes(image.Detach(), &std::free);

  std::string temp = DirectoryOf(path) + "/." + BaseName(path) + ".XXXXXX";
  Descriptor file;
  file.fd = os::CreateUniqueFile(temp);
  if (file.fd < 0) throw FileError(path, ErrnoText("cannot write", errno));
  try {
    WriteAll(file.fd, bytes.get(), static_cast<std::size_t>(length));
    if (!os::FlushToDisk(file.fd)) throw errno;
    const int fd = file.fd;
    file.fd = -1;
    if (::close(fd) != 0) throw errno;
    if (!os::ReplaceFile(temp, path)) throw errno;
  } catch (int error) {
    ::unlink(temp.c_str());
    throw FileError(path, ErrnoText("cannot write", error));
  }
}

}  // namespace kolvex::cli
