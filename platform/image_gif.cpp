// GIF through giflib: the first frame, drawn on the logical screen (clear
// where it does not cover), with the transparency of its graphic control
// block. Encoding writes one GIF89a frame with a chosen palette. The library
// is opened on first use.
#include <gif_lib.h>

#include "platform/image_codecs.h"
#include "platform/image_palette.h"
#include "platform/shared_library.h"

namespace zot::platform::image {

namespace {

struct Gif {
  decltype(&::DGifOpen) DGifOpen;
  decltype(&::DGifCloseFile) DGifCloseFile;
  decltype(&::DGifGetLine) DGifGetLine;
  decltype(&::DGifGetRecordType) DGifGetRecordType;
  decltype(&::DGifGetExtension) DGifGetExtension;
  decltype(&::DGifExtensionToGCB) DGifExtensionToGCB;
  decltype(&::DGifGetExtensionNext) DGifGetExtensionNext;
  decltype(&::DGifGetImageDesc) DGifGetImageDesc;
  decltype(&::GifMakeMapObject) GifMakeMapObject;
  decltype(&::GifFreeMapObject) GifFreeMapObject;
  decltype(&::EGifOpen) EGifOpen;
  decltype(&::EGifSetGifVersion) EGifSetGifVersion;
  decltype(&::EGifPutScreenDesc) EGifPutScreenDesc;
  decltype(&::EGifGCBToExtension) EGifGCBToExtension;
  decltype(&::EGifPutExtension) EGifPutExtension;
  decltype(&::EGifPutImageDesc) EGifPutImageDesc;
  decltype(&::EGifPutLine) EGifPutLine;
  decltype(&::EGifCloseFile) EGifCloseFile;
  bool found;
};

const Gif& giflib() {
  static const Gif api = [] {
    static SharedLibrary lib(ZOT_SONAME_GIF);
    Gif g{};
    g.found = ZOT_FIND_FUNCTION(lib, g, DGifOpen) &&
              ZOT_FIND_FUNCTION(lib, g, DGifCloseFile) &&
              ZOT_FIND_FUNCTION(lib, g, DGifGetLine) &&
              ZOT_FIND_FUNCTION(lib, g, DGifGetRecordType) &&
              ZOT_FIND_FUNCTION(lib, g, DGifGetExtension) &&
              ZOT_FIND_FUNCTION(lib, g, DGifExtensionToGCB) &&
              ZOT_FIND_FUNCTION(lib, g, DGifGetExtensionNext) &&
              ZOT_FIND_FUNCTION(lib, g, DGifGetImageDesc) &&
              ZOT_FIND_FUNCTION(lib, g, GifMakeMapObject) &&
              ZOT_FIND_FUNCTION(lib, g, GifFreeMapObject) &&
              ZOT_FIND_FUNCTION(lib, g, EGifOpen) &&
              ZOT_FIND_FUNCTION(lib, g, EGifSetGifVersion) &&
              ZOT_FIND_FUNCTION(lib, g, EGifPutScreenDesc) &&
              ZOT_FIND_FUNCTION(lib, g, EGifGCBToExtension) &&
              ZOT_FIND_FUNCTION(lib, g, EGifPutExtension) &&
              ZOT_FIND_FUNCTION(lib, g, EGifPutImageDesc) &&
              ZOT_FIND_FUNCTION(lib, g, EGifPutLine) &&
              ZOT_FIND_FUNCTION(lib, g, EGifCloseFile);
    return g;
  }();
  return api;
}

struct Source {
  const u8* data;
  std::size_t size;
  std::size_t pos;
};

int read_source(GifFileType* gif, GifByteType* buf, int want) {
  auto* s = static_cast<Source*>(gif->UserData);
  std::size_t n = want < 0 ? 0 : std::size_t(want);
  if (n > s->size - s->pos) n = s->size - s->pos;
  std::memcpy(buf, s->data + s->pos, n);
  s->pos += n;
  return int(n);
}

int write_sink(GifFileType* gif, const GifByteType* buf, int n) {
  auto* out = static_cast<std::vector<u8>*>(gif->UserData);
  if (n > 0) out->insert(out->end(), buf, buf + n);
  return n;
}

struct Decoder {
  GifFileType* gif;
  ~Decoder() {
    int err = 0;
    if (gif) giflib().DGifCloseFile(gif, &err);
  }
};

// Reads the first frame's rows into its own index buffer (interlaced rows in
// their four passes).
bool read_rows(GifFileType* gif, std::vector<u8>* rows) {
  const GifImageDesc& d = gif->Image;
  const std::size_t w = std::size_t(d.Width), h = std::size_t(d.Height);
  rows->assign(w * h, 0);
  if (!d.Interlace) {
    for (std::size_t y = 0; y < h; y++)
      if (giflib().DGifGetLine(gif, rows->data() + y * w, int(w)) == GIF_ERROR) return false;
    return true;
  }
  static const std::size_t kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; pass++)
    for (std::size_t y = kStart[pass]; y < h; y += kStep[pass])
      if (giflib().DGifGetLine(gif, rows->data() + y * w, int(w)) == GIF_ERROR) return false;
  return true;
}

}  // namespace

const char* missing_gif_library() { return giflib().found ? nullptr : ZOT_SONAME_GIF; }

bool decode_gif(const u8* data, std::size_t size, Pixels* out) {
  if (!giflib().found) return false;
  Source src{data, size, 0};
  int err = 0;
  Decoder dec{giflib().DGifOpen(&src, read_source, &err)};
  GifFileType* gif = dec.gif;
  if (!gif) return false;
  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type;
    if (giflib().DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
    if (type == TERMINATE_RECORD_TYPE) return false;  // no frame
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (giflib().DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return false;
      if (code == GRAPHICS_EXT_FUNC_CODE && ext) {
        GraphicsControlBlock gcb;
        if (giflib().DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (ext)
        if (giflib().DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return false;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (giflib().DGifGetImageDesc(gif) == GIF_ERROR) return false;
    const GifImageDesc d = gif->Image;
    if (d.Left < 0 || d.Top < 0 || !size_allowed(u64(d.Width), u64(d.Height))) return false;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map || !map->Colors || map->ColorCount < 1) return false;
    u64 sw = u64(gif->SWidth), sh = u64(gif->SHeight);
    if (sw == 0 || sh == 0) {
      sw = u64(d.Left) + u64(d.Width);
      sh = u64(d.Top) + u64(d.Height);
    }
    if (!size_allowed(sw, sh)) return false;
    std::vector<u8> rows;
    if (!read_rows(gif, &rows)) return false;
    out->width = u32(sw);
    out->height = u32(sh);
    out->bgra.assign(std::size_t(sw * sh * 4), 0);
    for (u64 y = 0; y < u64(d.Height) && u64(d.Top) + y < sh; y++) {
      for (u64 x = 0; x < u64(d.Width) && u64(d.Left) + x < sw; x++) {
        const int idx = rows[std::size_t(y * u64(d.Width) + x)];
        if (idx == transparent) continue;
        u8* p = out->bgra.data() + std::size_t(((u64(d.Top) + y) * sw + u64(d.Left) + x) * 4);
        if (idx < map->ColorCount) {
          const GifColorType& c = map->Colors[idx];
          p[0] = c.Blue;
          p[1] = c.Green;
          p[2] = c.Red;
        }
        p[3] = 255;
      }
    }
    return true;
  }
}

bool encode_gif(u32 width, u32 height, const u8* bgra, std::vector<u8>* out) {
  if (!giflib().found) return false;
  Indexed ix = to_indexed(width, height, bgra);
  int entries = 2;
  while (entries < int(ix.palette.size())) entries *= 2;
  std::vector<GifColorType> colours(std::size_t(entries), GifColorType{0, 0, 0});
  for (std::size_t i = 0; i < ix.palette.size(); i++)
    colours[i] = GifColorType{u8(ix.palette[i] >> 16), u8(ix.palette[i] >> 8), u8(ix.palette[i])};
  ColorMapObject* map = giflib().GifMakeMapObject(entries, colours.data());
  if (!map) return false;
  int err = 0;
  GifFileType* gif = giflib().EGifOpen(out, write_sink, &err);
  if (!gif) {
    giflib().GifFreeMapObject(map);
    return false;
  }
  giflib().EGifSetGifVersion(gif, true);
  bool ok = giflib().EGifPutScreenDesc(gif, int(width), int(height), 8, 0, map) == GIF_OK;
  if (ok && ix.transparent >= 0) {
    GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, ix.transparent};
    GifByteType ext[4];
    std::size_t n = giflib().EGifGCBToExtension(&gcb, ext);
    ok = giflib().EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(n), ext) == GIF_OK;
  }
  ok = ok && giflib().EGifPutImageDesc(gif, 0, 0, int(width), int(height), false, nullptr) == GIF_OK;
  for (u32 y = 0; ok && y < height; y++)
    ok = giflib().EGifPutLine(gif, ix.indexes.data() + std::size_t(y) * width, int(width)) == GIF_OK;
  // Closing writes the trailer and frees the file and (as part of it) the
  // screen's copy of the map.
  if (giflib().EGifCloseFile(gif, &err) == GIF_ERROR) ok = false;
  giflib().GifFreeMapObject(map);
  return ok;
}

}  // namespace zot::platform::image
