// The tool's system calls on Linux and other POSIX systems.

#include "os.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace kolvex::cli::os {

const char* const kPathSeparators = "/";

int ErrnoOf(long systemError) { return static_cast<int>(systemError); }

int CreateUniqueFile(std::string& pattern) {
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return -1;
  // mkstemp makes the file private; give it the mode a new file would get.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd, 0666 & ~mask) != 0) {
    const int error = errno;
    ::close(fd);
    ::unlink(pattern.c_str());
    errno = error;
    return -1;
  }
  return fd;
}

bool FlushToDisk(int fd) { return ::fsync(fd) == 0; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool MakeDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

}  // namespace kolvex::cli::os
