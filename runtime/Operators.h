// The pipeline operators' traces, written once for every state machine.
//
// A pipeline (`eventTo<Pipeline>`) is an ordinary member function written in the order of its
// operators. Each operator step calls one helper below, giving the step's own text as a literal
// right there, so that a person who sees a trace finds the step with grep:
//
//   Flo::from(*this, "evalLaneToIePolicy = from( laneStatusDir.laneToIEMap[] ): vniLaneId={} ...",
//             vniLaneId, oldOpt, newOpt);                                              // level 7
//   Flo::foreachChange(*this, " foreach( [ ( if ( _oldValueOpt1 != ... ) ] ) flattening {} elements",
//                      oldOpt, newOpt, [&](const auto& valueOpt, bool isAdd) {         // 6, then 9
//     if (!Flo::filter(*this, valueOpt.has_value(), "filter( _valueOpt3 )")) return;   // 6 on failure
//     Flo::note(*this, "evalLaneToIePolicy: policy {} isAdd {}", key, isAdd);          // 8 + Blip
//     Flo::Into{"into( iePolicyToVniLaneDir.polToVniLane[ policyKey ] )"}.inserting(*this, key);
//   });
//
// Levels: 7 for `from`/`merge` definitions and `into`; 6 for a failed `filter` and a `foreach`
// count; 9 for "Flattening element: {}"; 8 for a pipeline's own messages, which also go to the
// Blip ring. Cost: a disabled level costs the handler's mask test; nothing is formatted and
// nothing allocated (no argument's formatter runs). Blip records are written whenever the Blip
// handle is enabled, formatting nothing (Blip.h).
#pragma once

#include <fmt/format.h>

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/mica/Optional.h"
#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "runtime/Foreach.h"
#include "runtime/StateMachine.h"

namespace Flo {

// ---- from, merge ----

// `<pipeline> = from( <path> ): a={} b={}`: the source's definition with its values, level 7.
template <class... A>
void from(const StateMachine& sm, fmt::format_string<A...> definition, A&&... args) {
  sm.trace(kLevelPipeline, definition, std::forward<A>(args)...);
}

// `<pipeline> = merge( <p1>, ... ): a={}` or "Line <n>: merge( ... ): a={}", level 7.
template <class... A>
void merge(const StateMachine& sm, fmt::format_string<A...> definition, A&&... args) {
  sm.trace(kLevelPipeline, definition, std::forward<A>(args)...);
}

// ---- filter ----

// Returns `condition`. When it is false, traces `definition` (for example
// "filter( _valueOpt3 )") followed by " failed, terminating pipeline" at level 6; the caller
// then drops the current element.
inline bool filter(const StateMachine& sm, bool condition, std::string_view definition) {
  if (!condition) sm.trace(kLevelFilter, "{} failed, terminating pipeline", definition);
  return condition;
}

// ---- foreach ----

// `foreach` over an entity collection: traces `definition` (" foreach( <expr> ) flattening {}
// elements", leading blank included) with the element count at level 6, then runs `body` per
// element in key order, each preceded by "Flattening element: {}" (the key, or the member of a
// set) at level 9. `body` gets (key, value) for a map and (member) for a set, as copies; it may
// change the collection (see forEachElement). The count is reported to the running task as
// work, so that the scheduler's budget sees the fan-out.
template <class Coll, class Fn>
void foreach(const StateMachine& sm, fmt::format_string<size_t> definition, const Coll& coll, Fn&& body) {
  const size_t count = coll.size();
  sm.trace(kLevelFilter, definition, size_t{count});
  sm.workDone(count);
  forEachElement(coll, [&](const auto& key, const auto&... value) {
    sm.trace(kLevelProgress, "Flattening element: {}", key);
    body(key, value...);
  });
}

// `foreach` over a literal list, `{ a, b, ... }`: the same traces, `body(element)` per element.
template <class T, size_t N, class Fn>
void foreach(const StateMachine& sm, fmt::format_string<size_t> definition, const T (&list)[N], Fn&& body) {
  sm.trace(kLevelFilter, definition, size_t{N});
  for (const T& element : list) {
    sm.trace(kLevelProgress, "Flattening element: {}", element);
    body(element);
  }
}

// The change idiom,
//   foreach( [ ( if ( _oldValueOptA != _newValueOptB ) then _oldValueOptA else None, false ),
//              ( _newValueOptB, true ) ] )
// which turns one change into its retraction, then its assertion: `body(oldOpt, false)` where
// the old value differs from the new one (otherwise `body(None, false)`), then
// `body(newOpt, true)`. Traces `definition` with the count 2, and each element as
// "Flattening element: (<value or None>, <isAdd>)". `body` filters the absent values itself.
template <class T, class Fn>
void foreachChange(const StateMachine& sm, fmt::format_string<size_t> definition,
                   const Quill::Optional<T>& oldOpt, const Quill::Optional<T>& newOpt, Fn&& body) {
  sm.trace(kLevelFilter, definition, size_t{2});
  const Quill::Optional<T> none;
  const Quill::Optional<T>& retracted = oldOpt != newOpt ? oldOpt : none;
  sm.trace(kLevelProgress, "Flattening element: ({}, {})", retracted, false);
  body(retracted, false);
  sm.trace(kLevelProgress, "Flattening element: ({}, {})", newOpt, true);
  body(newOpt, true);
}

// ---- into ----

// The sink `into( <target> )`, named once by its definition, traced at level 7 as the
// definition followed by what is written:
//   inserting(k1)                ": inserting k1={}"
//   inserting(k1, k2)            ": inserting k1={}, k2={}"
//   insertingValue(v)            ": inserting value={}"           (an attribute target)
//   insertingValue(k1, v)        ": inserting k1={}, value={}"
//   insertingValue(k1, k2, v)    ": inserting k1={}, k2={}, value={}"
//   deleting(k1), deleting(k1, k2)  ": deleting k1={}" / ", k2={}"
// The caller writes the target and records the key as seen by its output (Output.h); Into only
// traces.
class Into {
 public:
  explicit constexpr Into(std::string_view definition) noexcept : definition_(definition) {}
  constexpr std::string_view definition() const noexcept { return definition_; }

  template <class... K>
    requires(sizeof...(K) == 1 || sizeof...(K) == 2)
  void inserting(const StateMachine& sm, const K&... keys) const {
    if constexpr (sizeof...(K) == 1) {
      sm.trace(kLevelPipeline, "{}: inserting k1={}", definition_, keys...);
    } else {
      sm.trace(kLevelPipeline, "{}: inserting k1={}, k2={}", definition_, keys...);
    }
  }
  template <class... A>
    requires(sizeof...(A) >= 1 && sizeof...(A) <= 3)
  void insertingValue(const StateMachine& sm, const A&... keysThenValue) const {
    if constexpr (sizeof...(A) == 1) {
      sm.trace(kLevelPipeline, "{}: inserting value={}", definition_, keysThenValue...);
    } else if constexpr (sizeof...(A) == 2) {
      sm.trace(kLevelPipeline, "{}: inserting k1={}, value={}", definition_, keysThenValue...);
    } else {
      sm.trace(kLevelPipeline, "{}: inserting k1={}, k2={}, value={}", definition_, keysThenValue...);
    }
  }
  template <class... K>
    requires(sizeof...(K) == 1 || sizeof...(K) == 2)
  void deleting(const StateMachine& sm, const K&... keys) const {
    if constexpr (sizeof...(K) == 1) {
      sm.trace(kLevelPipeline, "{}: deleting k1={}", definition_, keys...);
    } else {
      sm.trace(kLevelPipeline, "{}: deleting k1={}, k2={}", definition_, keys...);
    }
  }

 private:
  std::string_view definition_;
};

// ---- a pipeline's own messages ----

// Writes one message to the Blip ring `blip` (when non-null; the record keeps the format's
// address, so `format` must be a literal) and, when `level` is on, to `handler`. Both forms
// read the same: "{}" is the placeholder of both.
template <class... A>
void note(Blip::TraceHandle* blip, const Mica::DebugHandler& handler, int level,
          fmt::format_string<A...> format, A&&... args) {
  if (blip != nullptr) blip->record(static_cast<fmt::string_view>(format).data(), args...);
  handler.trace(level, format, std::forward<A>(args)...);
}

// The usual case: a level-8 message on the state machine's own handler and Blip ring.
template <class... A>
void note(const StateMachine& sm, fmt::format_string<A...> format, A&&... args) {
  note(sm.blip(), sm.tracer(), kLevelKey, format, std::forward<A>(args)...);
}

// ---- optionals printed as the pipelines print them ----

// Prints an optional as "Optional( <value> )" or "None", the form some pipeline traces use
// (Quill::Optional's own form, the bare value or "None", stays the default elsewhere):
//   Flo::from(*this, "exitOptUpd = from( ... ): exitOptKey={} exitOpt={}", key,
//             Flo::optionalText(exitOptOpt));
// OptionalText refers to the optional: it costs nothing when the trace is off, and must not
// outlive it. A Blip record stores an OwnedOptionalText (a copy) instead, so records stay valid.
template <class T>
struct OptionalText {
  const std::optional<T>* opt;
};

template <class T>
OptionalText<T> optionalText(const std::optional<T>& opt) noexcept {
  return OptionalText<T>{&opt};
}

template <class T>
struct OwnedOptionalText {
  OwnedOptionalText(const OptionalText<T>& text) : opt(*text.opt) {}  // NOLINT: implicit on purpose
  std::optional<T> opt;
};

namespace internal {
template <class T>
auto formatOptionalText(const std::optional<T>& opt, auto& ctx) {
  if (!opt) return fmt::format_to(ctx.out(), "None");
  return fmt::format_to(ctx.out(), "Optional( {} )", *opt);
}
}  // namespace internal

}  // namespace Flo

template <class T>
struct fmt::formatter<Flo::OptionalText<T>> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const Flo::OptionalText<T>& t, Ctx& ctx) const {
    return Flo::internal::formatOptionalText(*t.opt, ctx);
  }
};

template <class T>
struct fmt::formatter<Flo::OwnedOptionalText<T>> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const Flo::OwnedOptionalText<T>& t, Ctx& ctx) const {
    return Flo::internal::formatOptionalText(t.opt, ctx);
  }
};

// A Blip record keeps its own copy of the optional.
template <class T>
struct Blip::internal::Stored<Flo::OptionalText<T>> {
  using type = Flo::OwnedOptionalText<T>;
};
