#include "platform/image_palette.h"

#include <algorithm>
#include <unordered_map>

namespace zot::platform::image {

namespace {

constexpr u8 kClearBelow = 128;

ZOT_INLINE u32 rgb_of(const u8* p) { return u32(p[2]) << 16 | u32(p[1]) << 8 | p[0]; }
// 5 bits per channel: the histogram bin of a colour.
ZOT_INLINE u32 bin_of(u32 rgb) { return ((rgb >> 19) & 31) << 10 | ((rgb >> 11) & 31) << 5 | ((rgb >> 3) & 31); }

struct Bin {
  u64 count = 0;
  u64 r = 0, g = 0, b = 0;  // sums of the true channel values
};

struct Box {
  std::vector<u32> bins;  // indexes of non-empty bins
  u64 count = 0;
};

int channel(u32 bin, int axis) { return int((bin >> (10 - 5 * axis)) & 31); }

// The longest axis of the box and its extent.
int longest_axis(const Box& box, int* extent) {
  int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
  for (u32 b : box.bins)
    for (int a = 0; a < 3; a++) {
      lo[a] = std::min(lo[a], channel(b, a));
      hi[a] = std::max(hi[a], channel(b, a));
    }
  int best = 0;
  for (int a = 1; a < 3; a++)
    if (hi[a] - lo[a] > hi[best] - lo[best]) best = a;
  *extent = hi[best] - lo[best];
  return best;
}

std::vector<u32> median_cut(const std::vector<Bin>& hist, std::size_t colours, std::vector<u16>* bin_entry) {
  std::vector<Box> boxes(1);
  for (u32 i = 0; i < hist.size(); i++)
    if (hist[i].count) {
      boxes[0].bins.push_back(i);
      boxes[0].count += hist[i].count;
    }
  while (boxes.size() < colours) {
    // Split the box with the most pixels among those that can be split.
    int pick = -1;
    for (std::size_t i = 0; i < boxes.size(); i++) {
      if (boxes[i].bins.size() < 2) continue;
      if (pick < 0 || boxes[i].count > boxes[std::size_t(pick)].count) pick = int(i);
    }
    if (pick < 0) break;
    Box& box = boxes[std::size_t(pick)];
    int extent = 0;
    int axis = longest_axis(box, &extent);
    std::sort(box.bins.begin(), box.bins.end(),
              [axis](u32 a, u32 b) { return channel(a, axis) < channel(b, axis); });
    u64 half = box.count / 2, run = 0;
    std::size_t cut = 1;
    for (std::size_t i = 0; i + 1 < box.bins.size(); i++) {
      run += hist[box.bins[i]].count;
      cut = i + 1;
      if (run >= half) break;
    }
    Box upper;
    upper.bins.assign(box.bins.begin() + long(cut), box.bins.end());
    box.bins.resize(cut);
    box.count = 0;
    for (u32 b : box.bins) box.count += hist[b].count;
    for (u32 b : upper.bins) upper.count += hist[b].count;
    boxes.push_back(std::move(upper));
  }
  std::vector<u32> palette;
  for (std::size_t i = 0; i < boxes.size(); i++) {
    Bin sum;
    for (u32 b : boxes[i].bins) {
      sum.count += hist[b].count;
      sum.r += hist[b].r;
      sum.g += hist[b].g;
      sum.b += hist[b].b;
      (*bin_entry)[b] = u16(i);
    }
    u64 n = sum.count ? sum.count : 1;
    palette.push_back(u32((sum.r + n / 2) / n) << 16 | u32((sum.g + n / 2) / n) << 8 | u32((sum.b + n / 2) / n));
  }
  return palette;
}

}  // namespace

Indexed to_indexed(u32 width, u32 height, const u8* bgra) {
  Indexed out;
  const std::size_t n = std::size_t(width) * height;
  out.indexes.resize(n);
  bool clear = false;
  std::unordered_map<u32, u16> exact;
  bool few = true;
  for (std::size_t i = 0; i < n; i++) {
    const u8* p = bgra + i * 4;
    if (p[3] < kClearBelow) {
      clear = true;
      continue;
    }
    if (few && exact.size() <= 256) exact.emplace(rgb_of(p), u16(exact.size()));
    if (exact.size() > 256) few = false;
  }
  const std::size_t room = clear ? 255 : 256;
  if (few && exact.size() <= room) {
    out.palette.resize(exact.size());
    for (auto& [rgb, idx] : exact) out.palette[idx] = rgb;
    for (std::size_t i = 0; i < n; i++) {
      const u8* p = bgra + i * 4;
      if (p[3] >= kClearBelow) out.indexes[i] = u8(exact[rgb_of(p)]);
    }
  } else {
    std::vector<Bin> hist(1u << 15);
    for (std::size_t i = 0; i < n; i++) {
      const u8* p = bgra + i * 4;
      if (p[3] < kClearBelow) continue;
      Bin& b = hist[bin_of(rgb_of(p))];
      b.count++;
      b.r += p[2];
      b.g += p[1];
      b.b += p[0];
    }
    std::vector<u16> bin_entry(1u << 15, 0);
    out.palette = median_cut(hist, room, &bin_entry);
    for (std::size_t i = 0; i < n; i++) {
      const u8* p = bgra + i * 4;
      if (p[3] >= kClearBelow) out.indexes[i] = u8(bin_entry[bin_of(rgb_of(p))]);
    }
  }
  if (clear) {
    out.transparent = int(out.palette.size());
    out.palette.push_back(0);
    for (std::size_t i = 0; i < n; i++)
      if (bgra[i * 4 + 3] < kClearBelow) out.indexes[i] = u8(out.transparent);
  }
  if (out.palette.empty()) out.palette.push_back(0);
  return out;
}

}  // namespace zot::platform::image
