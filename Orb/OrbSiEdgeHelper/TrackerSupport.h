// What both default-route trackers share: their trace facility and a walk over an input
// collection that survives changes made by the code it calls.
//
// Internal to the trackers' .cpp files.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "platform/trace/Blip.h"
#include "platform/trace/Duolog.h"
#include "platform/trace/Trace.h"

namespace OrbL3Unicast::internal {

// Every tracker message goes to this debug handler at this level, and to the default Blip ring.
inline constexpr const char* kTraceFacility = "OrbSiEdgeHelper";
inline constexpr int kTraceLevel = 8;

inline const Mica::DebugHandler& helperDebug() {
  // Looked up once: the registry hands out the same handler for the life of the process.
  static const Mica::Ptr<Mica::DebugHandler> handler =
      Mica::Platform::getDebugHandler(kTraceFacility);
  return *handler;
}

// Writes one tracker message; `format` is a literal with a "%s" per argument.
template <class... A>
void helperTrace(const char* format, const A&... args) {
  Mica::Duolog::trace(Blip::defaultHandle(), helperDebug(), kTraceLevel, format, args...);
}

template <class E>
const auto& elementKey(const E& element) {
  if constexpr (requires { element.first; }) {
    return element.first;
  } else {
    return element;
  }
}

// Calls visit(element) for each element of `coll` from `it` on, in key order, stopping at the
// end or at the first key for which inRange(key) is false. Each element is copied before the
// call, so visit may change `coll`: the walk then goes on after the last visited key (what visit
// adds behind that key is visited, what it adds before it is not). While `coll` is unchanged
// the walk steps its iterator, so an undisturbed walk costs one iterator step per element.
// REQUIRES: the entity that owns `coll` stays alive during the walk (callers hold a Ptr).
template <class Coll, class InRange, class Visit>
void walkByKey(const Coll& coll, typename Coll::const_iterator it, InRange&& inRange,
               Visit&& visit) {
  using Element = std::remove_cvref_t<decltype(*it)>;
  while (it != coll.end()) {
    const Element element = *it;
    const auto& key = elementKey(element);
    if (!inRange(key)) return;
    const uint32_t version = coll.version();
    visit(element);
    if (coll.version() == version) {
      ++it;
    } else {
      it = coll.upperBound(key);
    }
  }
}

// The whole of `coll`.
template <class Coll, class Visit>
void walkByKey(const Coll& coll, Visit&& visit) {
  walkByKey(coll, coll.begin(), [](const auto&) { return true; }, std::forward<Visit>(visit));
}

}  // namespace OrbL3Unicast::internal
