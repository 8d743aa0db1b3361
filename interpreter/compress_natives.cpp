// compress and decompress: deflate data, raw or in zlib or gzip framing.
#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "interpreter/natives.h"
#include "interpreter/os_text.h"
#include "runtime/deflate.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::natives {

namespace {

ZOT_INLINE Cell* base() { return stack::g_base; }

using Codec = int (*)(u8*, std::size_t*, const u8*, std::size_t);

struct Method {
  const char* name;
  Codec compress, decompress;
};
const Method kMethods[] = {
    {"zlib", deflate::compress_zlib, deflate::decompress_zlib},
    {"deflate", deflate::compress, deflate::inflate},
    {"gzip", deflate::compress_gzip, deflate::decompress_gzip},
};
u32 g_symbols[3];

const Method& method_of(const Cell* word) {
  u32 canon = symbol::resolve(word->word_symbol());
  for (int i = 0; i < 3; i++)
    if (symbol::resolve(g_symbols[i]) == canon) return kMethods[i];
  raise_error(Err::ScriptInvalidArg, word);
}

// Runs the codec into a new binary! of the given capacity, and once more
// with the size it asks for when that is too small. The input must not lie
// in a series buffer (making the output may move buffers).
void run(Codec codec, const std::string& in, std::size_t capacity, const Cell* method) {
  for (int attempt = 0; attempt < 2; attempt++) {
    if (capacity > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
    Cell* out = os_text::scratch();
    binary::make_at(out, u32(capacity));
    mem::Series* s = mem::series_of(out->series_node());
    std::size_t size = capacity;
    int st = codec(s->head_ptr(), &size, reinterpret_cast<const u8*>(in.data()), in.size());
    if (st == deflate::kOk) {
      s->tail = s->head + u32(size);
      stack::set_result(out);
      stack::g_top = base() + 1;
      return;
    }
    stack::pop(1);
    if (st != deflate::kTooSmall) break;
    capacity = size;
  }
  raise_error(Err::ScriptInvalidData, method);
}

void n_compress(const i32*) {
  const Method& m = method_of(base() + 1);
  std::string in = os_text::of(base());
  run(m.compress, in, in.size() + 32, base() + 1);
}

// refs: /size expected
void n_decompress(const i32* refs) {
  const Method& m = method_of(base() + 1);
  std::string in = os_text::of(base());
  std::size_t capacity = 0;
  if (refs[0] >= 0 && m.decompress != deflate::decompress_gzip && base()[refs[0]].int_value() > 0 &&
      std::size_t(base()[refs[0]].int_value()) > in.size()) {
    capacity = std::size_t(base()[refs[0]].int_value());
  } else {
    // Measure first: gzip reads its trailer, the others decode and count.
    int st = m.decompress(nullptr, &capacity, reinterpret_cast<const u8*>(in.data()), in.size());
    if (st != deflate::kOk && st != deflate::kTooSmall) raise_error(Err::ScriptInvalidData, base() + 1);
  }
  run(m.decompress, in, capacity, base() + 1);
}

}  // namespace

void register_compress_natives() {
  for (int i = 0; i < 3; i++)
    g_symbols[i] = symbol::make_from_bytes(reinterpret_cast<const u8*>(kMethods[i].name),
                                           u32(std::strlen(kMethods[i].name)));
  define_native(103, "compress [data [binary! string!] method [word!]]", n_compress);
  define_native(104, "decompress [data [binary!] method [word!] /size length [integer!]]", n_decompress);
}

}  // namespace zot::natives
