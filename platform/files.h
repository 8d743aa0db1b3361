// Files and directories.
#pragma once

#include <string>

#include "runtime/base.h"

namespace zot::platform {

enum class PathKind : u8 { kMissing, kFile, kDirectory, kOther };

// What the path names, and the size in bytes of a file.
PathKind path_kind(const char* path, i64* size);

// True when this process may read the file.
bool readable(const char* path);

// The whole content of a file; false when it cannot be read.
bool read_file(const char* path, std::string* out);

// Creates one directory level; false on failure.
bool make_dir(const char* path);

}  // namespace zot::platform
