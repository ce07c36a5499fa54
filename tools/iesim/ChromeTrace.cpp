#include "tools/iesim/ChromeTrace.h"

#include <fmt/format.h>


namespace IeSim {

namespace {

// The text as the body of a JSON string.
std::string jsonEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += fmt::format("\\u{:04x}", static_cast<unsigned>(static_cast<unsigned char>(c)));
        } else {
          out += c;
        }
    }
  }
  return out;
}

// Nanoseconds as microseconds with three decimals, the unit of the format.
std::string micros(uint64_t nanos) { return fmt::format("{}.{:03}", nanos / 1000, nanos % 1000); }

}  // namespace

void ChromeTrace::scenarioIs(std::string_view name) { tracks_.emplace_back(name); }

void ChromeTrace::taskRan(std::string_view task, uint64_t startNanos, uint64_t durationNanos,
                          uint64_t work, size_t step) {
  if (tracks_.empty()) tracks_.emplace_back("iesim");
  runs_.push_back({std::string(task), startNanos, durationNanos, work, step, tracks_.size()});
}

std::string ChromeTrace::json() const {
  std::string out = "{\"traceEvents\":[";
  bool first = true;
  auto separate = [&] {
    out += first ? "\n" : ",\n";
    first = false;
  };
  for (size_t i = 0; i < tracks_.size(); ++i) {
    separate();
    out += fmt::format(
        R"({{"name":"thread_name","ph":"M","pid":1,"tid":{},"args":{{"name":"{}"}}}})", i + 1,
        jsonEscaped(tracks_[i]));
  }
  for (const Run& r : runs_) {
    separate();
    out += fmt::format(
        R"({{"name":"{}","ph":"X","ts":{},"dur":{},"pid":1,"tid":{},"args":{{"work":{},"step":{}}}}})",
        jsonEscaped(r.task), micros(r.startNanos), micros(r.durationNanos), r.track, r.work,
        r.step);
  }
  out += "\n]}\n";
  return out;
}

}  // namespace IeSim
