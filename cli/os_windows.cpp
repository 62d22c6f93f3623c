// The tool's system calls on Windows: the C runtime's descriptors in binary
// mode (so that errno and its messages read as on Linux), and the Win32 calls
// for what the runtime lacks. There are no symbolic links to follow and no
// owners to keep; Ctrl-C and the console's close and shutdown events stand for
// the POSIX signals.

#include "os.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

namespace kolvex::cli::os {

namespace {

// The POSIX numbers of the signals the console events stand for, so that the
// exit status reads as on Linux.
constexpr int kHangUp = 1;
constexpr int kInterrupt = 2;
constexpr int kTerminate = 15;

// errno for the Win32 errors a rename or a lookup meets.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

// A file's identity: its volume and its index on it.
bool Identity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  const HANDLE h =
      ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = ::GetFileInformationByHandle(h, &info) != 0;
  ::CloseHandle(h);
  return ok;
}

FileId IdOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return FileId{info.dwVolumeSerialNumber,
                static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

void (*gHandler)(int) = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      gHandler(kInterrupt);
      return TRUE;
    case CTRL_CLOSE_EVENT:
      gHandler(kHangUp);
      return TRUE;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      gHandler(kTerminate);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

const char* const kPathSeparators = "/\\";

int OpenForReading(const std::string& path) {
  return ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

std::optional<std::uint64_t> RegularFileSize(int fd) {
  struct _stat64 st {};
  if (::_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::uint64_t> Position(int fd) {
  const __int64 at = ::_lseeki64(fd, 0, SEEK_CUR);
  if (at < 0) return std::nullopt;
  return static_cast<std::uint64_t>(at);
}

void PrepareStream(int fd) { ::_setmode(fd, _O_BINARY); }

PathKind KindOf(const std::string& path) {
  struct _stat64 st {};
  if (::_stat64(path.c_str(), &st) != 0) return PathKind::Missing;
  if ((st.st_mode & _S_IFMT) == _S_IFREG) return PathKind::Regular;
  if ((st.st_mode & _S_IFMT) == _S_IFDIR) return PathKind::Directory;
  return PathKind::Other;
}

bool FollowLinks(std::string&) { return true; }

int CreateUniqueFile(std::string& pattern) { return ::mkstemp(pattern.data()); }

bool KeepPermissions(int, const std::string&) { return true; }

bool MayWrite(const std::string& path) { return ::_access(path.c_str(), 2) == 0; }

int OpenInPlaceForWriting(const std::string& path) {
  return ::_open(path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}

bool FlushToDisk(int fd) { return ::_commit(fd) == 0; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  errno = ErrnoOf(::GetLastError());
  return false;
}

std::optional<FileId> IdentityOf(const std::string& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!Identity(path, info)) return std::nullopt;
  return IdOf(info);
}

std::optional<FileId> IdentityOfRegular(int fd) {
  const auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  BY_HANDLE_FILE_INFORMATION info{};
  if (h == INVALID_HANDLE_VALUE || ::GetFileType(h) != FILE_TYPE_DISK ||
      ::GetFileInformationByHandle(h, &info) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  return IdOf(info);
}

bool SameFile(const std::string& a, const std::string& b) {
  const auto ia = IdentityOf(a);
  return ia && ia == IdentityOf(b);
}

bool MakeDirectory(const std::string& path) {
  return ::_mkdir(path.c_str()) == 0 || errno == EEXIST;
}

long ProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

bool ProcessRuns(long pid) {
  const HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool running = ::GetExitCodeProcess(h, &code) != 0 && code == STILL_ACTIVE;
  ::CloseHandle(h);
  return running;
}

unsigned CoreCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

void OnInterrupt(void (*handler)(int signal)) {
  gHandler = handler;
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// The console's events come on a thread of their own, and reads and writes
// of the runtime's descriptors always block: there is no wait to end.
void LeaveInterruptsToOtherThreads() {}
void WakeWaiters() {}

void RemoveFileNow(const char* path) { ::DeleteFileA(path); }

void ExitNow(int status) { ::_exit(status); }

int WaitableStream(int fd) { return fd; }

bool WaitReady(int, bool) { return true; }

}  // namespace kolvex::cli::os
