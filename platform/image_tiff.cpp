// TIFF through libtiff over an in-memory file: the first directory. RGB(A)
// with 8 bits a sample in strips is read row by row (its alpha kept exact);
// any other layout goes through libtiff's RGBA reader, whose premultiplied
// colours are turned back. Encoding writes RGBA, LZW-compressed, with
// unassociated alpha. The library is opened on first use.
#include <tiffio.h>

#include <algorithm>

#include "platform/image_codecs.h"
#include "platform/shared_library.h"

namespace zot::platform::image {

namespace {

struct Tiff {
  decltype(&::TIFFSetErrorHandler) TIFFSetErrorHandler;
  decltype(&::TIFFSetWarningHandler) TIFFSetWarningHandler;
  decltype(&::TIFFOpenOptionsAlloc) TIFFOpenOptionsAlloc;
  decltype(&::TIFFOpenOptionsSetErrorHandlerExtR) TIFFOpenOptionsSetErrorHandlerExtR;
  decltype(&::TIFFOpenOptionsSetWarningHandlerExtR) TIFFOpenOptionsSetWarningHandlerExtR;
  decltype(&::TIFFOpenOptionsSetMaxSingleMemAlloc) TIFFOpenOptionsSetMaxSingleMemAlloc;
  decltype(&::TIFFClientOpenExt) TIFFClientOpenExt;
  decltype(&::TIFFOpenOptionsFree) TIFFOpenOptionsFree;
  decltype(&::TIFFClose) TIFFClose;
  decltype(&::TIFFGetFieldDefaulted) TIFFGetFieldDefaulted;
  decltype(&::TIFFGetField) TIFFGetField;
  decltype(&::TIFFIsTiled) TIFFIsTiled;
  decltype(&::TIFFScanlineSize) TIFFScanlineSize;
  decltype(&::TIFFReadScanline) TIFFReadScanline;
  decltype(&::TIFFReadRGBAImageOriented) TIFFReadRGBAImageOriented;
  decltype(&::TIFFSetField) TIFFSetField;
  decltype(&::TIFFDefaultStripSize) TIFFDefaultStripSize;
  decltype(&::TIFFWriteScanline) TIFFWriteScanline;
  decltype(&::TIFFFlush) TIFFFlush;
  bool found;
};

const Tiff& tiff() {
  static const Tiff api = [] {
    static SharedLibrary lib(ZOT_SONAME_TIFF);
    Tiff t{};
    t.found = ZOT_FIND_FUNCTION(lib, t, TIFFSetErrorHandler) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFSetWarningHandler) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFOpenOptionsAlloc) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFOpenOptionsSetErrorHandlerExtR) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFOpenOptionsSetWarningHandlerExtR) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFOpenOptionsSetMaxSingleMemAlloc) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFClientOpenExt) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFOpenOptionsFree) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFClose) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFGetFieldDefaulted) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFGetField) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFIsTiled) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFScanlineSize) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFReadScanline) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFReadRGBAImageOriented) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFSetField) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFDefaultStripSize) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFWriteScanline) &&
              ZOT_FIND_FUNCTION(lib, t, TIFFFlush);
    return t;
  }();
  return api;
}

struct MemFile {
  std::vector<u8>* bytes;    // the written file (write mode)
  const u8* data;            // the read file
  std::size_t size;
  std::size_t pos;
};

std::size_t file_size(const MemFile* f) { return f->bytes ? f->bytes->size() : f->size; }
const u8* file_data(const MemFile* f) { return f->bytes ? f->bytes->data() : f->data; }

tmsize_t mem_read(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<MemFile*>(h);
  std::size_t size = file_size(f);
  if (n <= 0 || f->pos >= size) return 0;
  std::size_t k = std::min(std::size_t(n), size - f->pos);
  std::memcpy(buf, file_data(f) + f->pos, k);
  f->pos += k;
  return tmsize_t(k);
}

tmsize_t mem_write(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<MemFile*>(h);
  if (!f->bytes || n < 0) return 0;
  std::size_t end = f->pos + std::size_t(n);
  if (end > f->bytes->size()) f->bytes->resize(end);
  std::memcpy(f->bytes->data() + f->pos, buf, std::size_t(n));
  f->pos = end;
  return n;
}

toff_t mem_seek(thandle_t h, toff_t off, int whence) {
  auto* f = static_cast<MemFile*>(h);
  u64 base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? file_size(f) : 0;
  u64 to = base + off;
  // Reading never goes past the end; writing may (the gap reads as zeros).
  if (!f->bytes && to > f->size) return toff_t(-1);
  if (to > (u64(1) << 40)) return toff_t(-1);
  f->pos = std::size_t(to);
  return to;
}

int mem_close(thandle_t) { return 0; }
toff_t mem_size(thandle_t h) { return file_size(static_cast<MemFile*>(h)); }
int mem_map(thandle_t, void**, toff_t*) { return 0; }
void mem_unmap(thandle_t, void*, toff_t) {}

int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* open_mem(MemFile* f, const char* mode) {
  static bool once = [] {
    // Messages of code paths that have no handle reach the global handlers.
    tiff().TIFFSetErrorHandler(nullptr);
    tiff().TIFFSetWarningHandler(nullptr);
    return true;
  }();
  (void)once;
  TIFFOpenOptions* opts = tiff().TIFFOpenOptionsAlloc();
  if (!opts) return nullptr;
  tiff().TIFFOpenOptionsSetErrorHandlerExtR(opts, quiet, nullptr);
  tiff().TIFFOpenOptionsSetWarningHandlerExtR(opts, quiet, nullptr);
  // No single allocation beyond the pixels of the largest allowed image.
  u64 most = std::min<u64>(pixel_limit() * 4 + 65536, u64(1) << 31);
  tiff().TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(most));
  TIFF* t = tiff().TIFFClientOpenExt("memory", mode, f, mem_read, mem_write, mem_seek, mem_close, mem_size, mem_map,
                              mem_unmap, opts);
  tiff().TIFFOpenOptionsFree(opts);
  return t;
}

struct Closer {
  TIFF* t;
  ~Closer() {
    if (t) tiff().TIFFClose(t);
  }
};

ZOT_INLINE u8 unpremultiply(u32 c, u32 a) { return a == 0 ? 0 : u8(std::min<u32>(255, (c * 255 + a / 2) / a)); }

// 8-bit RGB or RGBA (unassociated or unspecified alpha) in strips, top-left.
bool plain_rgb(TIFF* t, u16* spp) {
  u16 bps = 0, photometric = 0, planar = PLANARCONFIG_CONTIG, orientation = ORIENTATION_TOPLEFT;
  if (!tiff().TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps) || bps != 8) return false;
  if (!tiff().TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, spp) || (*spp != 3 && *spp != 4)) return false;
  if (!tiff().TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric) || photometric != PHOTOMETRIC_RGB) return false;
  tiff().TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  tiff().TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
  if (planar != PLANARCONFIG_CONTIG || orientation != ORIENTATION_TOPLEFT || tiff().TIFFIsTiled(t)) return false;
  if (*spp == 4) {
    u16 count = 0;
    u16* kinds = nullptr;
    if (!tiff().TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &count, &kinds) || count != 1 || !kinds) return false;
    if (kinds[0] == EXTRASAMPLE_ASSOCALPHA) return false;
  }
  return true;
}

bool read_rows(TIFF* t, u32 w, u32 h, u16 spp, Pixels* out) {
  tmsize_t line = tiff().TIFFScanlineSize(t);
  if (line < tmsize_t(w) * spp) return false;
  std::vector<u8> row(std::size_t(line), 0);
  for (u32 y = 0; y < h; y++) {
    if (tiff().TIFFReadScanline(t, row.data(), y, 0) < 0) return false;
    u8* p = out->bgra.data() + std::size_t(y) * w * 4;
    for (u32 x = 0; x < w; x++, p += 4) {
      const u8* s = row.data() + std::size_t(x) * spp;
      p[0] = s[2];
      p[1] = s[1];
      p[2] = s[0];
      p[3] = spp == 4 ? s[3] : 255;
    }
  }
  return true;
}

bool read_rgba(TIFF* t, u32 w, u32 h, Pixels* out) {
  std::vector<u32> raster(std::size_t(w) * h, 0);
  if (!tiff().TIFFReadRGBAImageOriented(t, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) return false;
  u8* p = out->bgra.data();
  for (u32 v : raster) {
    u32 a = TIFFGetA(v);
    p[0] = unpremultiply(TIFFGetB(v), a);
    p[1] = unpremultiply(TIFFGetG(v), a);
    p[2] = unpremultiply(TIFFGetR(v), a);
    p[3] = u8(a);
    p += 4;
  }
  return true;
}

}  // namespace

const char* missing_tiff_library() { return tiff().found ? nullptr : ZOT_SONAME_TIFF; }

bool decode_tiff(const u8* data, std::size_t size, Pixels* out) {
  if (!tiff().found) return false;
  MemFile f{nullptr, data, size, 0};
  Closer c{open_mem(&f, "rm")};
  if (!c.t) return false;
  u32 w = 0, h = 0;
  if (!tiff().TIFFGetField(c.t, TIFFTAG_IMAGEWIDTH, &w) || !tiff().TIFFGetField(c.t, TIFFTAG_IMAGELENGTH, &h)) return false;
  if (!size_allowed(w, h)) return false;
  out->width = w;
  out->height = h;
  out->bgra.assign(std::size_t(w) * h * 4, 0);
  u16 spp = 0;
  if (plain_rgb(c.t, &spp)) return read_rows(c.t, w, h, spp, out);
  return read_rgba(c.t, w, h, out);
}

bool encode_tiff(u32 width, u32 height, const u8* bgra, std::vector<u8>* out) {
  if (!tiff().found) return false;
  MemFile f{out, nullptr, 0, 0};
  TIFF* t = open_mem(&f, "w");
  if (!t) return false;
  Closer c{t};
  u16 extra = EXTRASAMPLE_UNASSALPHA;
  bool ok = tiff().TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width) && tiff().TIFFSetField(t, TIFFTAG_IMAGELENGTH, height) &&
            tiff().TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8) && tiff().TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4) &&
            tiff().TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra) &&
            tiff().TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
            tiff().TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            tiff().TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
            tiff().TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
            tiff().TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, tiff().TIFFDefaultStripSize(t, 0));
  std::vector<u8> row(std::size_t(width) * 4);
  for (u32 y = 0; ok && y < height; y++) {
    const u8* s = bgra + std::size_t(y) * width * 4;
    for (u32 x = 0; x < width; x++) {
      row[x * 4 + 0] = s[x * 4 + 2];
      row[x * 4 + 1] = s[x * 4 + 1];
      row[x * 4 + 2] = s[x * 4 + 0];
      row[x * 4 + 3] = s[x * 4 + 3];
    }
    ok = tiff().TIFFWriteScanline(t, row.data(), y, 0) >= 0;
  }
  // Flushing writes the strips left and the directory.
  ok = ok && tiff().TIFFFlush(t) == 1;
  return ok && !out->empty();
}

}  // namespace zot::platform::image
