// Tracing: a tracer function! installed by `do/trace` hears the evaluator's
// events (those of its mask) with the code, the position, the value and the
// stack frame they concern.
#include <iterator>

#include "datatypes/words.h"
#include "interpreter/call.h"
#include "interpreter/eval.h"
#include "interpreter/event_words.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace zot::interp {

bool g_tracing = false;

namespace {

bool g_tracer_installed = false;
Cell g_tracer = {T_NONE, 0, 0, 0};
u32 g_mask = kDefaultTraceMask;

const EventWord kEventWords[] = {
    {kEvInit, w::init},     {kEvEnd, w::end},       {kEvProlog, w::prolog}, {kEvEpilog, w::epilog},
    {kEvEnter, w::enter},   {kEvExit, w::exit},     {kEvOpen, w::open},     {kEvReturn, w::return_},
    {kEvFetch, w::fetch},   {kEvPush, w::push},     {kEvSet, w::set},       {kEvCall, w::call},
    {kEvError, w::error},   {kEvThrow, w::throw_},  {kEvCatch, w::catch_},  {kEvExpr, w::expr},
};

const Cell* event_word(TraceEvent ev) {
  for (const auto& e : kEventWords)
    if (e.event == ev) return words::word(e.word);
  return words::word(w::tag_anon);
}

}  // namespace

void init_tracing() { collector::add_root_cells(&g_tracer, 1); }

bool tracer_installed() { return g_tracer_installed; }

void trace_error(const Cell* error) {
  if (g_tracing) fire(kEvError, nullptr, -1, nullptr, error);
}

u32 trace_mask(const Cell* tracer) {
  return requested_events(tracer, kEventWords, std::size(kEventWords), kDefaultTraceMask);
}

bool trace_install(const Cell* tracer) {
  if (g_tracer_installed) return false;
  g_tracer = *tracer;
  g_mask = trace_mask(tracer);
  g_tracer_installed = true;
  g_tracing = true;
  fire(kEvInit, nullptr, -1, nullptr, nullptr);
  return true;
}

void set_tracing(bool on) { g_tracing = on && g_tracer_installed; }

void trace_end(bool unwinding) {
  if (!g_tracer_installed) return;
  // The tracer is forgotten however its end event goes.
  struct Forget {
    ~Forget() {
      set_none(&g_tracer);
      g_tracing = false;
      g_tracer_installed = false;
    }
  } forget;
  // The tracer runs Zot code: an exit in flight waits meanwhile.
  u32 thrown = runtime::g_thrown_code;
  u32 pending = runtime::take_pending();
  if (!unwinding && !pending) {
    fire(kEvEnd, nullptr, -1, nullptr, nullptr);
  } else {
    // An error or exit is on its way out and the frames it left are gone:
    // what the tracer raises or throws now lands here and is dropped, so the
    // one in flight reaches its own handler (a quit request still goes on).
    Cell* const b0 = stack::g_base;
    Cell* const t0 = stack::g_top;
    stack::Frame* const c0 = stack::g_ctop;
    const u32 call_pos = stack::g_saved_call_pos;
    stack::push_try_all_frame(nullptr);  // no exit of the tracer's passes it
    try {
      fire(kEvEnd, nullptr, -1, nullptr, nullptr);
    } catch (const RuntimeThrow& t) {
      if (t.code < kThrowThrow || t.code > kThrowError) throw;
    }
    stack::g_base = b0;
    stack::g_top = t0;
    stack::g_ctop = c0;
    stack::g_saved_call_pos = call_pos;
  }
  runtime::g_thrown_code = thrown;
  runtime::g_pending = pending;
}

void fire(TraceEvent ev, const Cell* code, i32 pos, const Cell* ref, const Cell* value) {
  if (!g_tracing || !(g_mask & ev)) return;
  Cell* const b0 = stack::g_base;
  Cell* const t0 = stack::g_top;
  stack::Frame* const c0 = stack::g_ctop;
  Cell none;
  set_none(&none);
  Cell code_v = code ? *code : none;
  Cell val = value ? *value : none;
  bool with_ref = ev == kEvSet || ev == kEvEpilog || ev == kEvProlog || ev == kEvReturn || ev == kEvCall;
  Cell ref_v = (with_ref && ref) ? *ref : none;
  Cell offset;
  i32 off = -1;
  if (code && pos >= code->series_index() && u32(pos) <= mem::series_of(code->series_node())->length())
    off = pos - code->series_index();
  set_integer(&offset, off);
  Cell frame;
  make_cell(&frame, T_PAIR, 0, u32(stack::index_of(b0)), u32(stack::index_of(t0)));
  stack::g_top = t0 + 1;  // the top cell (a left operand, say) survives the call
  stack::push_interpreted_function_frame(words::word(w::tag_interp_callback));
  const Cell args[6] = {*event_word(ev), code_v, offset, val, ref_v, frame};
  Cell tracer = g_tracer;
  push_values_as_arguments(&tracer, args, 6);
  g_tracing = false;
  call_function(&tracer);  // an exit from the tracer leaves tracing off
  runtime::raise_pending();
  g_tracing = true;
  stack::g_ctop = c0;
  stack::g_base = b0;
  stack::g_top = t0;
}

}  // namespace zot::interp
