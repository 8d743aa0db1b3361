#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zot::platform {

PathKind path_kind(const char* path, i64* size) {
  struct stat st;
  if (stat(path, &st) != 0) return PathKind::kMissing;
  if (size) *size = i64(st.st_size);
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return S_ISREG(st.st_mode) ? PathKind::kFile : PathKind::kOther;
}

bool readable(const char* path) { return access(path, R_OK) == 0; }

bool read_file(const char* path, std::string* out) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return false;
    }
    if (n == 0) break;
    out->append(buf, std::size_t(n));
  }
  close(fd);
  return true;
}

bool make_dir(const char* path) { return mkdir(path, 0777) == 0; }

}  // namespace zot::platform
