#include "datatypes/triple.h"

#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"

namespace zot::triple {

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) {
  char buf[64] = "make triple! [";
  std::size_t n = std::strlen(buf);
  const i32 words[3] = {value->triple_first(), value->triple_second(), value->triple_third()};
  for (int i = 0; i < 3; i++) {
    if (i) buf[n++] = ' ';
    int len;
    const char* t = integer::form_signed(words[i], &len);
    std::memcpy(buf + n, t, std::size_t(len));
    n += std::size_t(len);
  }
  buf[n++] = ']';
  string::append_c_text_n(out, buf, n);
  return part - i32(n);
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  return form(value, out, o.limit, part);
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  datatype::register_type(T_TRIPLE, 0, "triple!", slots);
}

}  // namespace zot::triple
