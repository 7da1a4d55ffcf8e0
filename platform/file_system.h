// Files and folders of the agent's data directory.
//
// Paths are 8-bit texts in the system code page (UTF-8 on POSIX). Every call is
// safe from any thread; none keeps state between calls. Failures are reported by
// the return value only, never by exceptions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The separator between path parts: '\\' on Windows, '/' on POSIX.
extern const char kPathSeparator;

// Full path of the running executable; empty when the system cannot tell.
std::string ModulePath();

// The folder part of path, without the separator that ends it ("/" also
// counts on Windows); empty when path names no folder.
std::string FolderOf(const std::string& path);

// The folder of the running executable: FolderOf(ModulePath()).
std::string ExecutableFolder();

// True when a file or folder exists at path.
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);

// Creates one folder. True when it was created or already existed as a folder.
bool MakeDirectory(const std::string& path);

// Reads a whole file. False (content cleared) when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* content);

// Creates path as a new file (failing when it exists), writes content and
// forces it to the disk before closing. A failed write removes the file again.
bool WriteNewFileDurably(const std::string& path, const std::string& content);

// Renames from to to, failing when to already exists.
// Appends content at the end of path (made when missing) and flushes it to
// the disk before returning, so that what returned true outlives a crash or
// a power cut. The file is opened and closed on each call: it may be renamed
// or removed between calls.
bool AppendAndFlush(const std::string& path, const std::string& content);

bool RenameNoReplace(const std::string& from, const std::string& to);

// Forces the entries of folder (names created, renamed or removed in it) to
// the disk, so that a finished RenameNoReplace into it survives a power cut.
// POSIX flushes the folder itself; on Windows RenameNoReplace already writes
// through and there is nothing left to do. False when the folder cannot be
// opened or flushed.
bool FlushDirectory(const std::string& folder);

// Replaces to with a copy of from.
bool CopyFileReplacing(const std::string& from, const std::string& to);

// Replaces path (or creates it) with content in one step: the content goes to
// path + ".writing", is forced to the disk and is then renamed over path, so
// a reader never sees half a file. A failure leaves path as it was.
bool ReplaceFileDurably(const std::string& path, const std::string& content);

// Deletes a file. True when it was deleted.
bool DeleteFileAt(const std::string& path);

struct DirectoryEntry {
  std::string name;  // without folder
  bool isDirectory = false;
};

// The entries of a folder (without "." and ".."), in the order the file system
// lists them. False when the folder cannot be read.
bool ListDirectory(const std::string& folder, std::vector<DirectoryEntry>* entries);

// The last-write time of a file as a 64-bit count in the platform's own unit
// (100 ns since 1601 on Windows, nanoseconds since 1970 on POSIX). Only equality
// of two readings is meaningful. False when the file has no such time (missing).
bool LastWriteTime(const std::string& path, int64_t* time);

// The size of a file in bytes. False when it cannot be looked at (missing).
bool FileSize(const std::string& path, uint64_t* size);

// The bytes free to this user and the total size of the volume that holds
// folder. False when the folder cannot be queried.
bool QueryVolumeSpace(const std::string& folder, uint64_t* freeBytes, uint64_t* totalBytes);

}  // namespace platform
