#include "datatypes/register.h"

#include "datatypes/registry.h"

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/date.h"
#include "datatypes/email.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/path.h"
#include "datatypes/percent.h"
#include "datatypes/point.h"
#include "datatypes/port.h"
#include "datatypes/ref.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string_actions.h"
#include "datatypes/tag.h"
#include "datatypes/time.h"
#include "datatypes/triple.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/url.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"

namespace zot::datatypes {

// The order is fixed: a child copies its parent's slots as they stand when it
// registers. Types not built yet keep their places in this list:
//   datatype! unset! none! logic! series! block! string! binary! integer!
//   symbol! context! word! lit-word! set-word! get-word! refinement! char!
//   native! action! op! path! lit-path! set-path! get-path! function! routine!
//   paren! issue! url! file! object! bitset! triple! float! typeset! error!
//   vector! map! hash! pair! percent! tuple! time! tag! email! handle! date!
//   port! money! ref! point2D! point3D! image!
void register_core() {
  datatype::register_datatype();
  unset::register_type();
  none::register_type();
  logic::register_type();
  series::register_type();
  block::register_type();
  string::register_type();
  binary::register_type();
  integer::register_type();
  word::register_symbol();
  word::register_context();
  word::register_word();
  word::register_children();
  char_::register_type();
  function::register_native();
  function::register_action();
  function::register_op();
  path::register_types();
  function::register_function();
  function::register_routine();
  block::register_paren();
  word::register_issue();
  url::register_type();
  file::register_type();
  object::register_type();
  bitset::register_type();
  triple::register_type();
  float_::register_type();
  typeset::register_type();
  error::register_type();
  vector::register_type();
  map::register_type();
  hash::register_type();
  pair::register_type();
  percent::register_type();
  tuple::register_type();
  time::register_type();
  tag::register_type();
  email::register_type();
  handle::register_type();
  date::register_type();
  port::register_type();
  money::register_type();
  ref::register_type();
  point2d::register_type();
  point3d::register_type();
  image::register_type();
}

}  // namespace zot::datatypes
