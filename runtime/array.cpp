#include "runtime/array.h"

namespace zot::array {

namespace {
ZOT_INLINE mem::Series* buf(Node a) { return mem::series_of(a); }
}  // namespace

Node make(u32 count, u32 width) {
  Node n = mem::alloc_bytes(count * width);
  mem::Series* s = buf(n);
  s->flags = (s->flags & ~mem::kUnitMask) | width;
  return n;
}

u32 length(Node a) { return buf(a)->length(); }

void clear(Node a) { buf(a)->tail = buf(a)->head; }

void truncate(Node a, u32 position) {
  mem::Series* s = buf(a);
  if (position < 1) position = 1;
  u32 at = s->head + (position - 1) * s->unit();
  if (at < s->tail) s->tail = at;
}

Node copy(Node a) { return mem::copy_series(buf(a)); }

u8* head(Node a) { return buf(a)->head_ptr(); }

u8* append_byte(Node a, u8 b) {
  u8* at = mem::alloc_tail_bytes(a, 1);
  *at = b;
  return at;
}

u8* append_bytes(Node a, const void* src, u32 length) {
  u8* at = mem::alloc_tail_bytes(a, length);
  std::memcpy(at, src, length);
  return at;
}

u8* append_int(Node a, u32 value) {
  u8* at = mem::alloc_tail_bytes(a, 4);
  std::memcpy(at, &value, 4);
  return at;
}

u8 pick_byte(Node a, u32 position) {
  mem::Series* s = buf(a);
  return position >= 1 && position <= s->bytes_used() ? s->head_ptr()[position - 1] : 0;
}

u32 pick_int(Node a, u32 position) {
  mem::Series* s = buf(a);
  if (position < 1 || position > s->bytes_used() / 4) return 0;
  u32 v;
  std::memcpy(&v, s->head_ptr() + (position - 1) * 4, 4);
  return v;
}

void poke_int(Node a, u32 position, u32 value) {
  mem::Series* s = buf(a);
  if (position < 1 || position > s->bytes_used() / 4) return;
  std::memcpy(s->head_ptr() + (position - 1) * 4, &value, 4);
}

i32 find_int(Node a, u32 value) {
  mem::Series* s = buf(a);
  u32 n = s->bytes_used() / 4;
  for (u32 i = 0; i < n; i++) {
    u32 v;
    std::memcpy(&v, s->head_ptr() + i * 4, 4);
    if (v == value) return i32(i * 4);
  }
  return -1;
}

void remove_int(Node a, u32 value) {
  i32 at = find_int(a, value);
  if (at >= 0) remove_bytes(a, u32(at), 4);
}

void remove_bytes(Node a, u32 offset, u32 count) {
  mem::Series* s = buf(a);
  u32 used = s->bytes_used();
  if (offset >= used) return;
  if (count > used - offset) count = used - offset;
  std::memmove(s->head_ptr() + offset, s->head_ptr() + offset + count, used - offset - count);
  s->tail -= count;
}

void insert_int(Node a, u32 value, u32 position) {
  mem::alloc_tail_bytes(a, 4);  // room first: the buffer may move
  mem::Series* s = buf(a);
  u32 n = s->bytes_used() / 4 - 1;  // elements before this insertion
  if (position < 1) position = 1;
  if (position > n + 1) position = n + 1;
  u8* at = s->head_ptr() + (position - 1) * 4;
  std::memmove(at + 4, at, (n - (position - 1)) * 4);
  std::memcpy(at, &value, 4);
}

}  // namespace zot::array
