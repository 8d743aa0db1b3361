#include "platform/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zot::platform {

namespace {

constexpr std::size_t kChunk = 65536;

// A descriptor closed when the scope ends.
struct Fd {
  int fd;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  // Closes now; false when the close reports a failure (a write that did
  // not reach the file).
  bool close() {
    int f = fd;
    fd = -1;
    return ::close(f) == 0;
  }
};

bool write_all_fd(int fd, const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= std::size_t(w);
  }
  return true;
}

// Reads until n bytes or the end of the file; -1 on failure.
i64 read_up_to(int fd, char* buf, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, buf + got, n - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    got += std::size_t(r);
  }
  return i64(got);
}

// The directory part of a path ("." when it has none).
std::string directory_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A new file beside the target, made with O_EXCL under a name nobody else
// uses; -1 when the directory refuses it.
int make_temporary(const std::string& dir, std::string* name) {
  static u32 counter = 0;
  for (int attempt = 0; attempt < 100; attempt++) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    u32 mix = u32(ts.tv_nsec) ^ (u32(getpid()) << 16) ^ (++counter * 2654435761u);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%08x", mix);
    *name = dir + "/.zot-write-" + suffix;
    int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

PathKind path_kind(const char* path, i64* size) {
  struct stat st;
  if (stat(path, &st) != 0) return PathKind::kMissing;
  if (size) *size = i64(st.st_size);
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return S_ISREG(st.st_mode) ? PathKind::kFile : PathKind::kOther;
}

bool readable(const char* path) { return access(path, R_OK) == 0; }

bool read_file(const char* path, std::string* out) {
  out->clear();
  return read_file_range(path, 0, -1, out->max_size(), out) == ReadResult::kOk;
}

ReadResult read_file_range(const char* path, i64 seek, i64 part, std::size_t limit, std::string* out) {
  out->clear();
  Fd f(::open(path, O_RDONLY | O_CLOEXEC));
  if (f.fd < 0) return ReadResult::kFailed;
  struct stat st;
  if (fstat(f.fd, &st) != 0 || S_ISDIR(st.st_mode)) return ReadResult::kFailed;
  if (seek < 0) seek = 0;
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    i64 size = i64(st.st_size);
    if (seek >= size) return ReadResult::kOk;
    i64 want = size - seek;
    if (part >= 0 && part < want) want = part;
    if (u64(want) > limit) return ReadResult::kTooBig;
    if (want == 0) return ReadResult::kOk;
    if (lseek(f.fd, off_t(seek), SEEK_SET) < 0) return ReadResult::kFailed;
    out->resize(std::size_t(want));
    i64 got = read_up_to(f.fd, out->data(), std::size_t(want));
    if (got < 0) return ReadResult::kFailed;
    out->resize(std::size_t(got));  // the file shrank meanwhile
    return ReadResult::kOk;
  }
  // Size unknown: read to the end (or as far as the range asks: a device
  // such as /dev/zero has none), then take the range.
  std::string all;
  const u64 enough = part >= 0 ? u64(seek) + u64(part) : ~u64(0);
  while (all.size() < enough) {
    std::size_t at = all.size();
    const std::size_t want = std::size_t(std::min<u64>(kChunk, enough - at));
    all.resize(at + want);
    i64 got = read_up_to(f.fd, all.data() + at, want);
    if (got < 0) return ReadResult::kFailed;
    all.resize(at + std::size_t(got));
    if (got == 0) break;
    if (all.size() > u64(seek) + limit) return ReadResult::kTooBig;
  }
  if (u64(seek) >= all.size()) return ReadResult::kOk;
  std::size_t n = all.size() - std::size_t(seek);
  if (part >= 0 && u64(part) < n) n = std::size_t(part);
  if (n > limit) return ReadResult::kTooBig;
  out->assign(all, std::size_t(seek), n);
  return ReadResult::kOk;
}

bool replace_file(const char* path, const void* data, std::size_t n) {
  std::string target = path;
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    char* real = realpath(path, nullptr);
    // A dangling link: writing through it creates the file it names.
    if (!real) return write_file_at(path, data, n, -1, false);
    target = real;
    free(real);
  }
  bool exists = stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return false;
  if (exists && !S_ISREG(st.st_mode)) return write_file_at(target.c_str(), data, n, -1, false);

  std::string temp;
  Fd f(make_temporary(directory_of(target), &temp));
  if (f.fd < 0) return false;
  bool ok = true;
  if (exists) {
    // Root may be writing someone else's file: it stays theirs (best effort).
    if (fchown(f.fd, st.st_uid, st.st_gid) != 0) errno = 0;
    ok = fchmod(f.fd, st.st_mode & 07777) == 0;
  }
  ok = ok && write_all_fd(f.fd, data, n) && fdatasync(f.fd) == 0;
  ok = f.close() && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool write_file_at(const char* path, const void* data, std::size_t n, i64 seek, bool append) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  if (append) flags |= O_APPEND;
  else if (seek < 0) flags |= O_TRUNC;
  Fd f(::open(path, flags, 0666));
  if (f.fd < 0) return false;
  if (!append && seek > 0 && lseek(f.fd, off_t(seek), SEEK_SET) < 0) return false;
  bool ok = write_all_fd(f.fd, data, n);
  return f.close() && ok;
}

bool remove_file(const char* path) { return ::unlink(path) == 0; }

bool remove_dir(const char* path) { return ::rmdir(path) == 0; }

// Like the platform the language grew up on, a rename never replaces an
// existing target: the atomic no-replace rename where the kernel and file
// system have it, else a check for the target first.
bool rename_path(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  struct stat st;
  if (::lstat(to, &st) == 0) return false;
  return ::rename(from, to) == 0;
}

bool make_dir(const char* path) { return ::mkdir(path, 0777) == 0; }

bool modified_time(const char* path, bool* is_dir, i64* seconds, i32* nanoseconds) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *is_dir = S_ISDIR(st.st_mode);
  *seconds = i64(st.st_mtim.tv_sec);
  *nanoseconds = i32(st.st_mtim.tv_nsec);
  return true;
}

bool list_dir(const char* path, std::vector<DirEntry>* out) {
  out->clear();
  DIR* d = opendir(path);
  if (!d) return false;
  int dfd = dirfd(d);
  for (;;) {
    errno = 0;
    struct dirent* e = readdir(d);
    if (!e) break;
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    bool dir = e->d_type == DT_DIR;
    if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
      struct stat st;
      dir = fstatat(dfd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    out->push_back({name, dir});
  }
  bool ok = errno == 0;
  closedir(d);
  // Listings come in name order (byte order of the UTF-8 names), not in the
  // file system's own order, which differs from one disk to the next.
  std::sort(out->begin(), out->end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return ok;
}

}  // namespace zot::platform
