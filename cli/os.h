// The system calls of the tool that differ between Linux and Windows: error
// codes, a private temporary file, replacing one file by another, file identity
// and directories. One implementation per system (os_posix.cpp,
// os_windows.cpp), picked by CMake. Failures leave errno set, so messages read
// the same on both systems.
#pragma once

#include <string>

namespace kolvex::cli::os {

// The characters that separate directories in a path.
extern const char* const kPathSeparators;

// The errno value that a system error code (a CFileException's m_lOsError)
// stands for, so that messages read the same on every system.
int ErrnoOf(long systemError);

// Creates and opens for writing (binary mode) a new file named by `pattern`,
// whose trailing "XXXXXX" becomes unique in place. The file gets the
// permissions a new file gets. -1 on failure.
int CreateUniqueFile(std::string& pattern);

// Makes what was written to `fd` durable.
bool FlushToDisk(int fd);

// Renames `from` to `to`, replacing `to` if it exists, in one step where the
// system allows (a reader sees the old file or the new one, never a mix).
bool ReplaceFile(const std::string& from, const std::string& to);

// True when both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// Creates a directory; true also when it exists already.
bool MakeDirectory(const std::string& path);

}  // namespace kolvex::cli::os
