// The report a person reads: per step what happened, why, the changes of polToVniLane, the task
// runs and the state machine's state; at the end a table of pairs and their policy.
//
//   step 4 (line 31): bind 10.2 to Silver (was Gold)
//     why           10.2 moves: the old key goes before the new one comes
//     polToVniLane  - Gold@10.2
//                   + Silver@10.2
//     sm            ready, idle
//
// A disabled report writes nothing; failures are not its business (the runner writes them to
// stderr, so that they show also with --quiet).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/agents/LaneStatusDir.h"
#include "tools/iesim/Scenario.h"
#include "tools/iesim/World.h"
#include "types/IePolicyToVniLaneDir.h"

namespace IeSim {

struct StepRecord {
  size_t number = 0;  // 0: the start, before the first step
  Location at;
  std::string what;                  // what the step did, with the values it met
  std::string why;                   // the step's own comment
  std::vector<std::string> notes;    // further facts, e.g. the initial state
  std::vector<OutputChange> changes;
  std::vector<TaskRuns> runs;
  bool expect = false;               // an expect step: checks instead of changes and state
  std::vector<std::string> checks;   // expectations that held
  std::vector<std::string> failed;   // expectations that did not
  std::string sm;                    // the state machine's state after the step
};

class Report {
 public:
  // Writes to `out` (not owned) when `enabled`.
  Report(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {}

  void scenarioStarted(const LoadedScenario& s);
  void step(const StepRecord& r);
  // A step that the library stopped with an assertion or an error (`text`).
  void stepAborted(size_t number, Location at, std::string_view kind, std::string_view text);
  // Every pair bound in `lanes` or present in `output`, with its policy on each side.
  void pairTable(const Lane::LaneStatusDir& lanes,
                 const OrbInternetExit::IePolicyToVniLaneDir& output);
  void scenarioEnded(const LoadedScenario& s, size_t steps, size_t checks, size_t failures);

  // The whole of polToVniLane, one key a line (--dump; written even when the report is off).
  static void dumpOutput(std::FILE* out, const OrbInternetExit::IePolicyToVniLaneDir& output);

 private:
  void line(std::string_view label, std::string_view text);

  std::FILE* out_;
  bool enabled_;
};

}  // namespace IeSim
