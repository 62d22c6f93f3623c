// The tool's system calls on Linux (POSIX, and Linux's pipe sizes).

#include "os.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace kolvex::cli::os {

namespace {

// Longer chains of links are taken for a loop, as the kernel takes them.
constexpr int kMaxLinks = 40;

// The signals that stop the tool.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

// The pipe that WakeWaiters makes readable for good: every WaitReady polls
// its reading end beside the descriptor it waits on.
int gWake[2] = {-1, -1};

int OpenWithoutWaiting(const std::string& path, int flags) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int OpenRetrying(const std::string& path, int flags) {
  const int fd = OpenWithoutWaiting(path, flags);
  if (fd < 0) return -1;
  // Opened without waiting; reads and writes wait as usual.
  const int mode = ::fcntl(fd, F_GETFL);
  if (mode < 0 || ::fcntl(fd, F_SETFL, mode & ~O_NONBLOCK) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

const char* const kPathSeparators = "/";

int OpenForReading(const std::string& path) { return OpenRetrying(path, O_RDONLY); }

std::optional<std::uint64_t> RegularFileSize(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::uint64_t> Position(int fd) {
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  if (at < 0) return std::nullopt;
  return static_cast<std::uint64_t>(at);
}

void PrepareStream(int fd) {
  // As large as an unprivileged process may ask for by default; not a pipe or
  // refused: the buffer stays as it is.
  ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
}

PathKind KindOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return PathKind::Missing;
  if (S_ISREG(st.st_mode)) return PathKind::Regular;
  if (S_ISDIR(st.st_mode)) return PathKind::Directory;
  return PathKind::Other;
}

bool FollowLinks(std::string& path) {
  for (int i = 0; i < kMaxLinks; ++i) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) >= target.size()) {  // the link changed meanwhile
      errno = EAGAIN;
      return false;
    }
    target.resize(static_cast<std::size_t>(n));
    const auto slash = path.find_last_of('/');
    path = target[0] == '/' || slash == std::string::npos ? target
                                                          : path.substr(0, slash + 1) + target;
  }
  errno = ELOOP;
  return false;
}

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

bool KeepPermissions(int fd, const std::string& existing) {
  struct stat st {};
  if (::stat(existing.c_str(), &st) != 0) return false;
  // The owner can be kept only by a privileged process; others keep their own.
  if (::fchown(fd, st.st_uid, st.st_gid) != 0 && errno != EPERM) return false;
  return ::fchmod(fd, st.st_mode & 07777) == 0;
}

bool MayWrite(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

int OpenInPlaceForWriting(const std::string& path) { return OpenWithoutWaiting(path, O_WRONLY); }

// The data and the size the rename relies on; not the times.
bool FlushToDisk(int fd) { return ::fdatasync(fd) == 0; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::optional<FileId> IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<FileId> IdentityOfRegular(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool SameFile(const std::string& a, const std::string& b) {
  const auto ia = IdentityOf(a);
  return ia && ia == IdentityOf(b);
}

bool MakeDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

long ProcessId() { return static_cast<long>(::getpid()); }

bool ProcessRuns(long pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

unsigned CoreCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

void OnInterrupt(void (*handler)(int signal)) {
  // Without the pipe, waits are ended by EINTR in the thread the signal reaches only.
  if (::pipe2(gWake, O_CLOEXEC | O_NONBLOCK) != 0) gWake[0] = gWake[1] = -1;
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a waiting read or write returns EINTR
  for (const int signal : kInterrupts) ::sigaction(signal, &action, nullptr);
}

void LeaveInterruptsToOtherThreads() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kInterrupts) sigaddset(&set, signal);
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void WakeWaiters() {
  // One byte, never read: the pipe stays readable. A full pipe is awake already.
  const char byte = 1;
  if (gWake[1] >= 0 && ::write(gWake[1], &byte, 1) < 0) return;
}

void RemoveFileNow(const char* path) { ::unlink(path); }

void ExitNow(int status) { ::_exit(status); }

int WaitableStream(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) return fd;
  // A new open file description of the same pipe or device, whose mode is
  // this process's alone; the stream's own is shared with other processes,
  // which must not find it non-blocking.
  const int own =
      OpenWithoutWaiting("/proc/self/fd/" + std::to_string(fd), fd == 0 ? O_RDONLY : O_WRONLY);
  return own >= 0 ? own : fd;
}

bool WaitReady(int fd, bool writing) {
  pollfd waits[2] = {{fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0},
                     {gWake[0], POLLIN, 0}};
  for (;;) {
    // Not ready yet, or interrupted: ask again. An error or hang-up on fd
    // counts as ready, for the read or write to report.
    if (::poll(waits, gWake[0] >= 0 ? 2 : 1, -1) > 0) return (waits[1].revents & POLLIN) == 0;
    if (errno != EINTR && errno != EAGAIN) return true;
  }
}

}  // namespace kolvex::cli::os
