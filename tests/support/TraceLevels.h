// Trace levels switched on for a test: sets a debug handler's level mask for the life of the
// object and restores the previous mask, so tests never leak trace settings into each other.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/trace/Trace.h"

namespace IeTest {

class TraceLevels {
 public:
  TraceLevels(std::string_view handler, uint32_t mask)
      : handler_(Mica::Platform::getDebugHandler(handler)), saved_(handler_->levelMask()) {
    handler_->levelMaskIs(mask);
  }
  ~TraceLevels() { handler_->levelMaskIs(saved_); }
  TraceLevels(const TraceLevels&) = delete;
  TraceLevels& operator=(const TraceLevels&) = delete;

 private:
  Mica::Ptr<Mica::DebugHandler> handler_;
  uint32_t saved_;
};

// Trace levels switched on, and every trace captured, for the life of the object.
class TraceCaptureAt : private TraceLevels, public Mica::TraceCapture {
 public:
  TraceCaptureAt(std::string_view handler, uint32_t mask) : TraceLevels(handler, mask) {}
};

// The texts `handler` wrote at `level` (any level when negative) that start with `prefix`, in order.
inline std::vector<std::string> textsOf(const Mica::TraceCapture& capture, std::string_view handler, int level = -1,
                                        std::string_view prefix = "") {
  std::vector<std::string> out;
  for (const auto& line : capture.lines()) {
    if (line.handler == handler && (level < 0 || line.level == level) && line.text.starts_with(prefix)) {
      out.push_back(line.text);
    }
  }
  return out;
}

// Every line `handler` wrote as "<level><sep><text>", in order; the runtime's per-key lines
// ("k: ...") only when `withKeys`.
inline std::vector<std::string> levelled(const Mica::TraceCapture& capture, std::string_view handler,
                                         std::string_view sep = " ", bool withKeys = true) {
  std::vector<std::string> out;
  for (const auto& line : capture.lines()) {
    if (line.handler != handler || (!withKeys && line.text.starts_with("k: "))) continue;
    out.push_back(std::to_string(line.level) + std::string(sep) + line.text);
  }
  return out;
}

// `texts` in lexical order, for comparing lines whose order does not matter.
inline std::vector<std::string> sorted(std::vector<std::string> texts) {
  std::sort(texts.begin(), texts.end());
  return texts;
}

}  // namespace IeTest
