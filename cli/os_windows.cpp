// The tool's system calls on Windows: the C runtime's descriptors (binary
// mode), errno values for Win32 errors (so that messages read as on Linux), and
// the Win32 calls for what the runtime lacks.

#include "os.h"

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <direct.h>
#include <io.h>

namespace kolvex::cli::os {

namespace {

// errno for the Win32 errors a rename or a lookup meets.
int ErrnoFromWin32(DWORD error) {
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
  const HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = ::GetFileInformationByHandle(h, &info) != 0;
  ::CloseHandle(h);
  return ok;
}

}  // namespace

const char* const kPathSeparators = "/\\";

int ErrnoOf(long systemError) { return ErrnoFromWin32(static_cast<DWORD>(systemError)); }

int CreateUniqueFile(std::string& pattern) { return ::mkstemp(pattern.data()); }

bool FlushToDisk(int fd) { return ::_commit(fd) == 0; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  errno = ErrnoFromWin32(::GetLastError());
  return false;
}

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  return Identity(a, ia) && Identity(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool MakeDirectory(const std::string& path) { return ::_mkdir(path.c_str()) == 0 || errno == EEXIST; }

}  // namespace kolvex::cli::os
