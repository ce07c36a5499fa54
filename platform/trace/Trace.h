// Named debug trace handlers.
//
// A handler has a name and a mask of enabled levels (0..31). trace(level, fmt, args...) tests
// the mask inline and formats with fmt only when the level is on, so a disabled trace costs one
// load and one bit test: no formatting, no allocation, no call of any argument's formatter.
// Enabled messages are formatted out of line and go to the process's trace sink (stderr by
// default; a file for the simulator; a TraceCapture in tests).
//
// Handlers live for the whole process in a registry keyed by name; getDebugHandler returns the
// same handler for the same name. Thread-safety: single scheduler thread, like the runtime.
#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/mica/Node.h"

namespace Mica {

// Highest trace level; levels are 0..kMaxTraceLevel.
inline constexpr int kMaxTraceLevel = 31;

// Receives every enabled message. `text` is only valid during the call.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void write(std::string_view handler, int level, std::string_view text) = 0;
};

class DebugHandler : public Node {
 public:
  explicit DebugHandler(std::string name) : name_(std::move(name)) {}

  const std::string& name() const noexcept { return name_; }
  uint32_t levelMask() const noexcept { return mask_; }
  void levelMaskIs(uint32_t mask) noexcept { mask_ = mask; }
  // False for levels outside 0..31.
  bool enabled(int level) const noexcept {
    return static_cast<unsigned>(level) <= static_cast<unsigned>(kMaxTraceLevel) &&
           ((mask_ >> level) & 1u) != 0;
  }

  // Formats `format` with `args` (fmt syntax) and writes it when `level` is on.
  template <class... A>
  void trace(int level, fmt::format_string<A...> format, A&&... args) const {
    if (!enabled(level)) [[likely]]
      return;
    emitFormatted(level, format, fmt::make_format_args(args...));
  }
  // Writes an already formatted text when the level is on.
  void traceText(int level, std::string_view text) const {
    if (enabled(level)) emit(level, text);
  }

 private:
  // Out of line so that each trace site inlines only the mask test and the argument capture.
  void emitFormatted(int level, fmt::string_view format, fmt::format_args args) const;
  void emit(int level, std::string_view text) const;

  std::string name_;
  uint32_t mask_ = 0;
};

// "all", "none", "7", "6-9", "0,6-9": the mask of those levels (blanks around items are
// ignored). Throws std::invalid_argument naming the offending text when it does not parse, a
// range is reversed or a level is above 31.
uint32_t parseLevelMask(std::string_view text);

// Installs the process's sink (not owned); null restores the default (stderr,
// "name[level]: text").
void traceSinkIs(TraceSink* sink) noexcept;
// The sink in use; never null.
TraceSink* traceSink() noexcept;

// Writes every message to a stdio stream (not owned) as "handler[level]: text" and a newline.
class StreamTraceSink : public TraceSink {
 public:
  explicit StreamTraceSink(std::FILE* stream) : stream_(stream) {}
  void write(std::string_view handler, int level, std::string_view text) override;

 private:
  std::FILE* stream_;
};

// Keeps every message in memory, for tests. Installs itself as the sink while it lives and
// restores the previous sink when destroyed, so captures nest (destroy them in reverse order).
class TraceCapture : public TraceSink {
 public:
  struct Line {
    std::string handler;
    int level;
    std::string text;
  };
  TraceCapture();
  ~TraceCapture() override;
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  void write(std::string_view handler, int level, std::string_view text) override;

  const std::vector<Line>& lines() const noexcept { return lines_; }
  // The texts written at `level` (any level when negative), in order.
  std::vector<std::string> texts(int level = -1) const;
  // Whether some message's text equals `text` exactly.
  bool contains(std::string_view text) const;
  void clear() { lines_.clear(); }

 private:
  std::vector<Line> lines_;
  TraceSink* previous_;
};

namespace Platform {
// The handler registered under `name`, created (with every level off, or every level on when
// `enableAll`) on first use; later calls return the same handler and leave its mask alone.
Ptr<DebugHandler> getDebugHandler(std::string_view name, bool enableAll = false);
// Every registered handler, ordered by name.
std::vector<Ptr<DebugHandler>> debugHandlers();
}  // namespace Platform

}  // namespace Mica
