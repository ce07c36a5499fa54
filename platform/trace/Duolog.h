// Duolog: one message written both to a Blip ring and to a debug trace handler.
//
// The format uses "%s" for each argument. The Blip record stores the format and the raw
// arguments (see Blip.h); the text form, written only when the handler has `level` on, puts
// each argument's fmt "{}" text at its "%s", through the same substitution that decodes the
// Blip record, so both forms read the same. With the level off nothing is formatted.
#pragma once

#include <array>
#include <string>

#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"

namespace Mica {

class Duolog {
 public:
  // `blip` may be null (no record). `format` must be a string literal.
  template <class... A>
  static void trace(Blip::TraceHandle* blip, const DebugHandler& debug, int level,
                    const char* format, const A&... args) {
    if (blip != nullptr) blip->record(format, args...);
    if (!debug.enabled(level)) [[likely]]
      return;
    const std::array<std::string, sizeof...(A)> texts{fmt::format("{}", args)...};
    debug.traceText(level, Blip::substitute(format, texts));
  }
  template <class... A>
  static void trace(Blip::TraceHandle* blip, const Ptr<DebugHandler>& debug, int level,
                    const char* format, const A&... args) {
    trace(blip, *debug, level, format, args...);
  }
};

}  // namespace Mica
