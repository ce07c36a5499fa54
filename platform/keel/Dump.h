// Dump contexts: where runtime objects write their dumpState() text.
//
// Every dumpState(ctx, indent) takes its indent as `unsigned`: a count of blanks is never negative.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/mica/Node.h"

namespace Keel {

class DumpContext : public Mica::Node {
 public:
  // Appends to an in-memory text (tests, the simulator's report).
  DumpContext() = default;
  // Writes through to a stdio stream as well as keeping the text.
  explicit DumpContext(std::FILE* stream) : stream_(stream) {}

  // Keeps `size` bytes of `data` and, when the context has a stream, writes them to it.
  void append(const char* data, size_t size) const;
  const std::string& text() const noexcept { return text_; }
  void clear() const { text_.clear(); }

 private:
  mutable std::string text_;
  std::FILE* stream_ = nullptr;
};

// printf-style write into a dump context ("%*cInternetExit\n" and the like), with printf's own
// rules (a "%*c" of width 0 still prints its character). Output of any length is kept whole.
// A null context discards the text.
void _objDumpPrintf(const Mica::Ptr<const DumpContext>& ctx, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace Keel
