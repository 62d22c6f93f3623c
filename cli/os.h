// The system calls of the tool that differ between systems: binary file
// modes, opening without waiting on a pipe, temporary files and replacing one
// file by another, symbolic links and permissions of outputs, file identity,
// directories, processes, interruption, waits that a signal ends and the
// number of cores. One
// implementation per system (os_posix.cpp, os_windows.cpp), picked by CMake.
// Failures leave errno set, so messages read the same on every system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kolvex::cli::os {

// The characters that separate directories in a path.
extern const char* const kPathSeparators;

// ---- Reading ----

// A descriptor open for reading, in binary mode, not passed to child
// processes; -1 on failure. Opening never waits: a named pipe without a
// writer opens at once (and is then refused as not a regular file).
int OpenForReading(const std::string& path);

// The size of the regular file open at `fd`; nothing when it is not a
// regular file (a pipe, a device, a directory) or cannot be examined.
std::optional<std::uint64_t> RegularFileSize(int fd);
// The current position of the file open at `fd`; nothing where it has none.
std::optional<std::uint64_t> Position(int fd);
// The bytes of the regular file open at `fd` from its current position to
// its end; nothing as above.
inline std::optional<std::uint64_t> RegularFileRemaining(int fd) {
  const auto size = RegularFileSize(fd);
  const auto at = Position(fd);
  if (!size || !at) return std::nullopt;
  return *size > *at ? *size - *at : 0;
}

// Prepares a standard stream (0, 1) for frames: binary mode where the system
// has text modes, and a larger buffer where `fd` is a pipe whose buffer the
// system lets a process grow (fewer wake-ups per frame). Best effort.
void PrepareStream(int fd);

// ---- Writing ----

// What a path names, following symbolic links.
enum class PathKind { Missing, Regular, Directory, Other };
PathKind KindOf(const std::string& path);

// Follows the symbolic links of the last component of `path` until it names
// something that is not a link (or nothing), so that an output written by
// rename lands in the link's target and the link stays. False (errno set) for
// a loop or an unreadable link.
bool FollowLinks(std::string& path);

// Creates and opens for writing (binary mode) a new file named by `pattern`,
// whose trailing "XXXXXX" becomes unique in place. The file gets the
// permissions a new file gets. -1 on failure.
int CreateUniqueFile(std::string& pattern);

// Gives the new file at `fd` the permissions (and, where allowed, the owner)
// of the existing file `existing`, which it is about to replace.
bool KeepPermissions(int fd, const std::string& existing);

// True when this process may write the existing file `path`.
bool MayWrite(const std::string& path);

// Opens an existing file that is not a regular one (a pipe, a device) for
// writing in place, without waiting: a pipe that no process reads fails with
// ENXIO. Where the system can, the descriptor stays non-blocking (writes
// that would wait fail with EAGAIN; wait in WaitReady), so that a signal
// ends a wait on a stalled reader.
int OpenInPlaceForWriting(const std::string& path);

// Makes what was written to `fd` durable.
bool FlushToDisk(int fd);

// Renames `from` to `to`, replacing `to` if it exists, in one step where the
// system allows (a reader sees the old file or the new one, never a mix).
bool ReplaceFile(const std::string& from, const std::string& to);

// ---- Files and directories ----

// Which file a path names: equal for two names of the same file.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
  friend auto operator<=>(const FileId&, const FileId&) = default;
};
std::optional<FileId> IdentityOf(const std::string& path);
// The same for the regular file open at `fd`; nothing for anything else.
std::optional<FileId> IdentityOfRegular(int fd);

// True when both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// Creates a directory; true also when it exists already. A missing parent
// fails with ENOENT.
bool MakeDirectory(const std::string& path);

// ---- Processes ----

long ProcessId();
// False only when no process `pid` runs (a process of another user counts as
// running).
bool ProcessRuns(long pid);
// The cores this process may run on; at least 1.
unsigned CoreCount();

// Calls `handler` with the signal's number for SIGINT, SIGTERM and SIGHUP (on
// Windows: Ctrl-C or Ctrl-Break as SIGINT, closing the console as SIGHUP,
// log-off and shutdown as SIGTERM). On POSIX a blocking read or write that the
// signal interrupts fails with EINTR instead of resuming. The handler runs
// where the system calls it (a signal handler, or another thread): it may
// only touch atomics and call WakeWaiters, RemoveFileNow and ExitNow.
void OnInterrupt(void (*handler)(int signal));
// Leaves SIGINT, SIGTERM and SIGHUP to the process's other threads: for
// worker threads, so that the handler runs in a thread that waits for them.
void LeaveInterruptsToOtherThreads();
// Safe inside a signal handler.
void WakeWaiters();
void RemoveFileNow(const char* path);
[[noreturn]] void ExitNow(int status);

// ---- Waits that a signal ends ----
// A signal reaches one thread of the process, and a read or write blocked in
// any other would go on waiting. Reads and writes that may wait are made on
// non-blocking descriptors instead, and wait in WaitReady, which every thread
// leaves once WakeWaiters has run.

// A descriptor for the reads or the writes of the standard stream `fd` (0 or
// 1): for a pipe, a FIFO or a terminal, a non-blocking one of its own on the
// same file (the stream's own stays as other processes share it); for
// anything else, or where none can be made, `fd` itself. Stays open.
int WaitableStream(int fd);

// Waits until `fd` can be read (or, `writing`, written) without blocking:
// true then, false once WakeWaiters has run. True at once where the system
// cannot wait so (Windows, whose descriptors always block).
bool WaitReady(int fd, bool writing);

}  // namespace kolvex::cli::os
