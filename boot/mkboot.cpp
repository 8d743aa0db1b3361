// zot-mkboot: turns the library's Zot source into the boot image and writes
// it as a C++ source file that defines the image bytes.
//
//   zot-mkboot OUT.cpp [--commit ID] [--branch NAME] [--time UNIX] [--ahead N]
//              [--message TEXT] [--debug 0|1] -- SECTION.zot...
//
// Each section file is scanned into a block (a syntax error fails the
// build); object literals stored under the paths of class_ids.inc get their
// fixed class ids; the image block holds the build description and then the
// sections in the order given.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "boot/image.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/string.h"
#include "interpreter/lexer.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/rooted.h"
#include "runtime/symbol.h"
#include "runtime/throw.h"

namespace {

using namespace zot;

struct Args {
  std::string out;
  std::string commit = "0000000000000000000000000000000000000000";
  std::string branch = "unknown";
  std::string message;
  long long time = 0;
  int ahead = 0;
  bool debug = false;
  std::vector<std::string> sections;
};

Args g_args;

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "zot-mkboot: %s\n", why.c_str());
  std::fflush(stderr);
  runtime::exit_process(1);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The block the text scans into (held by the caller's Rooted).
void scan(const std::string& text, Rooted* out) {
  lexer::scan(&out->cell, reinterpret_cast<const u8*>(text.data()), u32(text.size()), lexer::Options{});
}

Cell first_value(const std::string& text) {
  Rooted b;
  scan(text, &b);
  return *block::cell_at(&b.cell, 0);
}

// ---- fixed class ids

struct ClassId {
  const char* path;
  u32 id;
  bool used;
};
ClassId g_classes[] = {
#define ZOT_CLASS(path, id) {path, id, false},
#include "boot/class_ids.inc"
#undef ZOT_CLASS
};

// The entry for an object stored under the path: a path listed more than once
// (an object replaced by a later one) gives its ids in the order of the
// table; once all are taken, the last one (stored twice).
ClassId* pinned(const std::string& path) {
  ClassId* last = nullptr;
  for (auto& c : g_classes) {
    if (path != c.path) continue;
    if (!c.used) return &c;
    last = &c;
  }
  return last;
}

std::string symbol_text(u32 sym) { return std::string(symbol::name_text(sym), symbol::name_length(sym)); }

bool is_word(const Cell& c, const char* text) {
  return c.is(T_WORD) && symbol_text(c.word_symbol()) == text;
}

// The text of a path's words joined by "/" ("" when an element is no word).
std::string path_text(const Cell& p) {
  std::string s;
  mem::Series* ser = mem::series_of(p.series_node());
  for (u32 i = u32(p.series_index()); i < ser->length(); i++) {
    const Cell& e = ser->cells()[i];
    if (!e.is(T_WORD)) return "";
    if (!s.empty()) s += "/";
    s += symbol_text(e.word_symbol());
  }
  return s;
}

std::string join(const std::string& prefix, const std::string& name) {
  return prefix.empty() ? name : prefix + "/" + name;
}

// Rewrites `context [spec]`, `object [spec]` and `make object! [spec]` stored
// under a pinned path into `start-up/object ID [spec]`, into a new block;
// nested blocks are rewritten alike.
class Rewriter {
 public:
  Rewriter() : maker_(first_value("start-up/object")) {}

  // The rewritten copy of the block (which the caller keeps rooted).
  Cell walk(const Cell& block, const std::string& prefix) {
    Rooted out;
    block::make_at(&out.cell, i32(length(block)) + 4);
    Cell* keep = &out.cell;
    u32 n = length(block);
    for (u32 i = 0; i < n;) {
      Cell c = at(block, i);
      std::string name;
      u32 value = i + 1;
      if (c.is(T_SET_WORD)) {
        name = join(prefix, symbol_text(c.word_symbol()));
      } else if (c.is(T_SET_PATH)) {
        name = join(prefix, path_text(c));
      } else if (is_word(c, "put") && i + 3 < n && (at(block, i + 1).is(T_PATH) || at(block, i + 1).is(T_WORD)) &&
                 at(block, i + 2).is(T_LIT_WORD)) {
        Cell target = at(block, i + 1);
        std::string t = target.is(T_PATH) ? path_text(target) : symbol_text(target.word_symbol());
        name = join(prefix, t + "/" + symbol_text(at(block, i + 2).word_symbol()));
        block::append_cell(keep, &c);
        Cell t2 = at(block, i + 1), k = at(block, i + 2);
        block::append_cell(keep, &t2);
        block::append_cell(keep, &k);
        value = i + 3;
      } else {
        append_walked(keep, c, prefix);
        i++;
        continue;
      }
      if (!is_word(c, "put")) block::append_cell(keep, &c);
      i = object_literal(keep, block, value, name);
    }
    return out.cell;
  }

 private:
  static u32 length(const Cell& b) { return mem::series_of(b.series_node())->length() - u32(b.series_index()); }
  static Cell at(const Cell& b, u32 i) { return mem::series_of(b.series_node())->cells()[u32(b.series_index()) + i]; }

  void append_walked(Cell* out, const Cell& c, const std::string& prefix) {
    if (c.is(T_BLOCK) || c.is(T_PAREN)) {
      Rooted w(walk(c, prefix));
      w.cell.header = c.header;
      block::append_cell(out, &w.cell);
    } else {
      block::append_cell(out, &c);
    }
  }

  // Copies an object literal that starts at i (when there is one) under its
  // name, or nothing; returns the index after what was copied.
  u32 object_literal(Cell* out, const Cell& block, u32 i, const std::string& name) {
    u32 n = length(block);
    u32 spec_at;
    if (i + 1 < n && (is_word(at(block, i), "context") || is_word(at(block, i), "object")) &&
        at(block, i + 1).is(T_BLOCK)) {
      spec_at = i + 1;
    } else if (i + 2 < n && is_word(at(block, i), "make") && is_word(at(block, i + 1), "object!") &&
               at(block, i + 2).is(T_BLOCK)) {
      spec_at = i + 2;
    } else {
      return i;
    }
    Cell spec = at(block, spec_at);
    if (ClassId* c = pinned(name)) {
      if (c->used) fail(std::string("two objects stored under ") + c->path);
      c->used = true;
      Cell maker = maker_.cell, id;
      maker.header = (maker.header & 0xFFu) | (at(block, i).header & ~0xFFu);
      set_integer(&id, i32(c->id));
      block::append_cell(out, &maker);
      block::append_cell(out, &id);
    } else {
      for (u32 k = i; k < spec_at; k++) {
        Cell w = at(block, k);
        block::append_cell(out, &w);
      }
    }
    append_walked(out, spec, name);
    return spec_at + 1;
  }

  Rooted maker_;
};

// ---- the build description

void append_pair(Cell* b, const char* name, const Cell& value) {
  Rooted v(value);
  Cell w = first_value(name);
  block::append_cell(b, &w);
  block::append_cell(b, &v.cell);
}

// [date D branch S commit #ID ahead N time N message S debug? L]
void build_description(Rooted* out) {
  block::make_at(&out->cell, 16);
  Cell* b = &out->cell;
  Rooted v;
  date::from_epoch(&v.cell, g_args.time);
  append_pair(b, "date", v.cell);
  string::make_from_utf8(&v.cell, g_args.branch.data(), g_args.branch.size());
  append_pair(b, "branch", v.cell);
  append_pair(b, "commit", first_value("#" + g_args.commit));
  set_integer(&v.cell, g_args.ahead);
  append_pair(b, "ahead", v.cell);
  set_integer(&v.cell, i32(g_args.time));
  append_pair(b, "time", v.cell);
  string::make_from_utf8(&v.cell, g_args.message.data(), g_args.message.size());
  append_pair(b, "message", v.cell);
  set_logic(&v.cell, g_args.debug);
  append_pair(b, "debug?", v.cell);
}

// ---- output

void write_source(const std::string& image) {
  std::string tmp = g_args.out + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) fail("cannot write " + tmp);
  std::fprintf(f,
               "// Generated by zot-mkboot from the library's source: do not edit.\n"
               "#include \"boot/boot_image.h\"\n\n"
               "namespace zot::boot_image {\n\n"
               "alignas(16) const unsigned char kImage[] = {");
  for (std::size_t i = 0; i < image.size(); i++) {
    if (i % 16 == 0) std::fputs("\n   ", f);
    std::fprintf(f, " %u,", unsigned(static_cast<unsigned char>(image[i])));
  }
  std::fprintf(f, "\n};\nconst std::size_t kImageSize = %zu;\n\n}  // namespace zot::boot_image\n",
               image.size());
  if (std::fclose(f) != 0 || std::rename(tmp.c_str(), g_args.out.c_str()) != 0) fail("cannot write " + g_args.out);
}

void make_image(void*) {
  stack::push_try_frame(nullptr);
  try {
    Rooted image;
    block::make_at(&image.cell, i32(g_args.sections.size()) + 1);
    {
      Rooted build;
      build_description(&build);
      block::append_cell(&image.cell, &build.cell);
    }
    Rewriter rewriter;
    for (const std::string& path : g_args.sections) {
      Rooted code;
      scan(read_file(path), &code);
      Rooted walked(rewriter.walk(code.cell, ""));
      block::append_cell(&image.cell, &walked.cell);
    }
    for (const auto& c : g_classes)
      if (!c.used) fail(std::string("no object literal stored under ") + c.path);
    write_source(boot_image::encode(&image.cell));
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowError) throw;
    Cell err = *stack::top_value();
    fail("the library's source does not scan (" + std::to_string(error_cell_code(&err)) + ")");
  }
  runtime::exit_process(0);
}

void usage() {
  std::fprintf(stderr,
               "usage: zot-mkboot OUT.cpp [--commit ID] [--branch NAME] [--time UNIX] [--ahead N]\n"
               "                  [--message TEXT] [--debug 0|1] -- SECTION.zot...\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) usage();
  g_args.out = argv[1];
  int i = 2;
  for (; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--") {
      i++;
      break;
    }
    if (i + 1 >= argc) usage();
    std::string v = argv[++i];
    if (a == "--commit") g_args.commit = v;
    else if (a == "--branch") g_args.branch = v;
    else if (a == "--message") g_args.message = v;
    else if (a == "--time") g_args.time = std::atoll(v.c_str());
    else if (a == "--ahead") g_args.ahead = std::atoi(v.c_str());
    else if (a == "--debug") g_args.debug = v == "1";
    else usage();
  }
  for (; i < argc; i++) g_args.sections.push_back(argv[i]);
  if (g_args.sections.empty()) usage();
  zot::startup::run(argc, argv, make_image, nullptr);
}
