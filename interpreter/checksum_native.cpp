// The checksum native: CRC-32, Adler-32 and the Internet checksum as
// integers, digests and HMAC as binaries.
#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/file_io.h"
#include "interpreter/natives.h"
#include "interpreter/os_text.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "runtime/checksum.h"
#include "runtime/digest.h"
#include "runtime/errors.h"
#include "runtime/print.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::natives {

namespace {

ZOT_INLINE Cell* base() { return stack::g_base; }

// The method words; digests carry their method index (2..6).
enum Method : int { kTcp = 0, kCrc32 = 1, kAdler32 = 7, kHash = 8 };
struct MethodName {
  const char* name;
  int method;
};
const MethodName kMethods[] = {{"tcp", kTcp},         {"crc32", kCrc32},   {"md5", 2},
                               {"sha1", 3},           {"sha256", 4},       {"sha384", 5},
                               {"sha512", 6},         {"adler32", kAdler32}, {"hash", kHash}};
u32 g_method_symbols[sizeof kMethods / sizeof kMethods[0]];

int method_of(const Cell* word) {
  u32 canon = symbol::resolve(word->word_symbol());
  for (std::size_t i = 0; i < sizeof kMethods / sizeof kMethods[0]; i++)
    if (symbol::resolve(g_method_symbols[i]) == canon) return kMethods[i].method;
  raise_error(Err::ScriptInvalidArg, word);
}

ZOT_NORETURN void bad_with(const Cell* what) {
  Cell with = word::load("with");
  raise_error(Err::ScriptInvalidRefineArg, &with, what);
}

// The bytes to check: a file's content, text as UTF-8, a binary from its index.
std::string data_of(const Cell* data) {
  if (data->is(T_FILE)) {
    std::string path, content;
    if (!simple_io::os_path(data, &path) || !platform::read_file(path.c_str(), &content))
      raise_error(Err::AccessCannotOpen, data);
    return content;
  }
  if (data->is(T_STRING) || data->is(T_BINARY)) return os_text::of(data);
  raise_error(Err::ScriptInvalidArg, data);
}

const u8* bytes(const std::string& s) { return reinterpret_cast<const u8*>(s.data()); }

// refs: /with spec
void n_checksum(const i32* refs) {
  const Cell* spec = refs[0] >= 0 ? base() + refs[0] : nullptr;
  const int method = method_of(base() + 1);
  const std::string data = data_of(base());
  i32 sum = 0;
  switch (method) {
    case kTcp:
    case kCrc32:
    case kAdler32:
      if (spec) bad_with(base() + 1);
      sum = method == kTcp     ? i32(checksum::tcp(bytes(data), data.size()))
            : method == kCrc32 ? i32(checksum::crc32(bytes(data), data.size()))
                               : i32(checksum::adler32(bytes(data), data.size()));
      set_integer(base(), sum);
      stack::g_top = base() + 1;
      return;
    case kHash:
      if (!spec) bad_with(base() + 1);
      if (!spec->is(T_INTEGER)) bad_with(spec);
      {
        static const char kNotYet[] = "** /hash support not yet implemented; algorithm TBD.\n";
        runtime::print_text(kNotYet, sizeof kNotYet - 1);
      }
      set_integer(base(), 0);
      stack::g_top = base() + 1;
      return;
    default:
      break;
  }
  u8 out[digest::kMaxSize];
  u32 n;
  const bool digested = !spec || spec->is(T_STRING) || spec->is(T_BINARY);
  if (const char* soname = digested ? platform::missing_crypto_library() : nullptr)
    file::cannot_open_library(soname);
  if (!spec) {
    n = digest::compute(method, bytes(data), data.size(), out);
  } else if (spec->is(T_STRING) || spec->is(T_BINARY)) {
    std::string key = os_text::of(spec);
    n = digest::hmac(method, bytes(data), data.size(), bytes(key), key.size(), out);
  } else if (spec->is(T_INTEGER)) {
    bad_with(spec);  // the integer form belongs to the hash method
  } else {
    raise_error(Err::ScriptInvalidArg, spec);
  }
  Cell* r = binary::push_bytes(out, n);
  stack::set_result(r);
  stack::g_top = base() + 1;
}

}  // namespace

void register_checksum_native() {
  for (std::size_t i = 0; i < sizeof kMethods / sizeof kMethods[0]; i++) {
    const char* name = kMethods[i].name;
    g_method_symbols[i] = symbol::make_from_bytes(reinterpret_cast<const u8*>(name), u32(std::strlen(name)));
  }
  define_native(87, "checksum [data [any-string! binary!] method [word!] /with spec [any-string! binary! integer!]]",
                n_checksum);
}

}  // namespace zot::natives
