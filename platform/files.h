// Files and directories. Paths are POSIX paths in UTF-8 (NUL-terminated:
// callers refuse a path that holds a NUL). Every operation opens, works and
// closes: nothing stays open between calls.
#pragma once

#include <string>
#include <vector>

#include "runtime/base.h"

namespace zot::platform {

enum class PathKind : u8 { kMissing, kFile, kDirectory, kOther };

// What the path names, and the size in bytes of a file.
PathKind path_kind(const char* path, i64* size);

// True when this process may read the file.
bool readable(const char* path);

// The whole content of a file; false when it cannot be read.
bool read_file(const char* path, std::string* out);

enum class ReadResult : u8 { kOk, kFailed, kTooBig };

// Bytes of a file from the offset seek (0 or more), at most part of them
// (part < 0: to the end). A file whose size the system does not report (a
// device, a pipe, most of /proc) is read in chunks to its end, or until the
// range is in. More than limit bytes to hand back gives kTooBig.
ReadResult read_file_range(const char* path, i64 seek, i64 part, std::size_t limit, std::string* out);

// Replaces the content of a file all at once: the bytes go to a new file in
// the same directory, which is then renamed over the target, so a failure
// leaves the target as it was. The new file keeps the target's mode and
// owner; a symbolic link stays a link (the file it names is replaced). A
// target that exists and is no regular file (a device, a pipe) is written in
// place. False on failure.
bool replace_file(const char* path, const void* data, std::size_t n);

// Writes into the file where it stands (created when missing): at the byte
// offset seek (0 or more) without cutting what follows, or at its end with
// append. False on failure.
bool write_file_at(const char* path, const void* data, std::size_t n, i64 seek, bool append);

bool remove_file(const char* path);
// Removes an empty directory.
bool remove_dir(const char* path);
// False, changing nothing, when the target exists.
bool rename_path(const char* from, const char* to);
// Creates one directory level; false on failure.
bool make_dir(const char* path);

// The last modification time of what the path names, in seconds since
// 1970-01-01 UTC and nanoseconds; false when it cannot be read.
bool modified_time(const char* path, bool* is_dir, i64* seconds, i32* nanoseconds);

struct DirEntry {
  std::string name;
  bool directory;  // a directory, or a link to one
};
// The entries of a directory in name order, without "." and ".."; false
// when the directory cannot be read.
bool list_dir(const char* path, std::vector<DirEntry>* out);

}  // namespace zot::platform
