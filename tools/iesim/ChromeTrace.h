// Task runs as Chrome trace events, the JSON that chrome://tracing and Perfetto open.
//
//   {"traceEvents":[
//     {"name":"thread_name","ph":"M","pid":1,"tid":1,"args":{"name":"<scenario>"}},
//     {"name":"<task>","ph":"X","ts":<µs>,"dur":<µs>,"pid":1,"tid":1,"args":{"work":N,"step":S}},
//     ...]}
//
// Each scenario is one thread track (tid 1, 2, ... in the order the scenarios ran), named after
// it. Times are the task layer's steady clock (Keel::steadyNanos) in microseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace IeSim {

class ChromeTrace {
 public:
  // The following runs belong to a new track named `name`.
  void scenarioIs(std::string_view name);
  // One task run, started at `startNanos`, during step `step` of the current scenario.
  void taskRan(std::string_view task, uint64_t startNanos, uint64_t durationNanos, uint64_t work,
               size_t step);

  size_t events() const noexcept { return runs_.size(); }
  // The whole trace as JSON.
  std::string json() const;

 private:
  struct Run {
    std::string task;
    uint64_t startNanos;
    uint64_t durationNanos;
    uint64_t work;
    size_t step;
    size_t track;
  };
  std::vector<std::string> tracks_;
  std::vector<Run> runs_;
};

}  // namespace IeSim
