// Math natives: trigonometry in degrees (or radians), logarithms, powers of e,
// square roots and the NaN test; and the builders of pairs, points and money.
// No math native raises for a domain error: NaN and infinities come out as
// the C library gives them.
#include <cmath>
#include <numbers>

#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "interpreter/natives.h"
#include "runtime/errors.h"
#include "runtime/helpers.h"
#include "runtime/stack.h"

namespace zot::natives {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kEpsilon = 2.220446049250313e-16;

ZOT_INLINE Cell* base() { return stack::g_base; }

void float_result(double d) {
  set_float(base(), d);
  stack::g_top = base() + 1;
}

// The number in the cell as a double: integer! by value, float! and
// percent! by their stored double.
double number_of(const Cell* c) { return c->is(T_INTEGER) ? double(c->int_value()) : c->float_value(); }

// The angle argument in radians. Without /radians the degrees are reduced
// into the range where the function (0 tangent, 1 cosine, 2 sine) is exact
// at its special angles.
double angle_arg(const i32* refs, int selector) {
  double a = number_of(base());
  return refs[0] < 0 ? runtime::degrees_to_radians(a, selector) : a;
}

// A result this close to 0 is 0: sine of 180 degrees and cosine of 90 are 0.
double floored(double d) { return std::fabs(d) < kEpsilon ? 0.0 : d; }

void n_sine(const i32* refs) { float_result(floored(std::sin(angle_arg(refs, 2)))); }
void n_cosine(const i32* refs) { float_result(floored(std::cos(angle_arg(refs, 1)))); }

void n_tangent(const i32* refs) {
  double a = angle_arg(refs, 0);
  if (a == kPi / 2.0) return float_result(HUGE_VAL);
  if (a == kPi / -2.0) return float_result(-HUGE_VAL);
  float_result(std::tan(a));
}

// An inverse function's result, in degrees unless /radians.
void arc_result(const i32* refs, double radians) {
  float_result(refs[0] < 0 ? radians * 180.0 / kPi : radians);
}

void n_arcsine(const i32* refs) { arc_result(refs, std::asin(number_of(base()))); }
void n_arccosine(const i32* refs) { arc_result(refs, std::acos(number_of(base()))); }
void n_arctangent(const i32* refs) { arc_result(refs, std::atan(number_of(base()))); }
void n_arctangent2(const i32* refs) { arc_result(refs, std::atan2(number_of(base()), number_of(base() + 1))); }

void n_log_2(const i32*) { float_result(std::log(number_of(base())) / 0.6931471805599453); }
void n_log_10(const i32*) { float_result(std::log10(number_of(base()))); }
void n_log_e(const i32*) { float_result(std::log(number_of(base()))); }
void n_exp(const i32*) { float_result(std::pow(std::numbers::e, number_of(base()))); }
void n_square_root(const i32*) { float_result(std::sqrt(number_of(base()))); }

void n_nan_q(const i32*) {
  set_logic(base(), std::isnan(base()->float_value()));
  stack::g_top = base() + 1;
}

void n_as_pair(const i32*) {
  i32 x = pair::get_coordinate(base()), y = pair::get_coordinate(base() + 1);
  make_cell(base(), T_PAIR, 0, u32(x), u32(y));
  stack::g_top = base() + 1;
}

void n_as_point2d(const i32*) {
  point2d::set(base(), float(number_of(base())), float(number_of(base() + 1)));
  stack::g_top = base() + 1;
}

void n_as_point3d(const i32*) {
  point3d::set(base(), float(number_of(base())), float(number_of(base() + 1)), float(number_of(base() + 2)));
  stack::g_top = base() + 1;
}

void n_as_money(const i32*) {
  Cell* currency = base();
  const Cell* amount = base() + 1;
  i32 index = money::currency_index(currency->word_symbol());
  if (index < 0) raise_error(Err::ScriptBadDenom, currency);
  Cell m;
  if (amount->is(T_INTEGER)) money::from_integer_at(&m, amount->int_value());
  else money::from_float_at(&m, amount->float_value(), false);
  money::set_currency(&m, u32(index));
  *base() = m;
  stack::g_top = base() + 1;
}

}  // namespace

void register_math_natives() {
  define_native(55, "sine [angle [number!] /radians]", n_sine);
  define_native(56, "cosine [angle [number!] /radians]", n_cosine);
  define_native(57, "tangent [angle [number!] /radians]", n_tangent);
  define_native(58, "arcsine [sine [number!] /radians]", n_arcsine);
  define_native(59, "arccosine [cosine [number!] /radians]", n_arccosine);
  define_native(60, "arctangent [tangent [number!] /radians]", n_arctangent);
  define_native(61, "arctangent2 [y [integer! float!] x [integer! float!] /radians]", n_arctangent2);
  define_native(62, "NaN? [value [float!]]", n_nan_q);
  define_native(63, "log-2 [value [number!]]", n_log_2);
  define_native(64, "log-10 [value [number!]]", n_log_10);
  define_native(65, "log-e [value [number!]]", n_log_e);
  define_native(66, "exp [power [number!]]", n_exp);
  define_native(67, "square-root [value [number!]]", n_square_root);
  define_native(73, "as-pair [x [integer! float!] y [integer! float!]]", n_as_pair);
  define_native(74, "as-point2D [x [integer! float!] y [integer! float!]]", n_as_point2d);
  define_native(75, "as-point3D [x [integer! float!] y [integer! float!] z [integer! float!]]", n_as_point3d);
  define_native(76, "as-money [currency [word!] amount [integer! float!]]", n_as_money);
}

}  // namespace zot::natives
