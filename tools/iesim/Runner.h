// Runs one loaded scenario through the library and reports it.
//
// The start state is written into a fresh World (lane bindings and the output keys an earlier
// run left, the configuration, the engine and its module), the state machines are created over
// it (unless their start is deferred), then the steps run in order. After each step the commands
// the module queued are applied to its data-path model. A failed expectation is written to stderr as
//   FILE:LINE:COL: step N (expect) failed: polToVniLane: expected ..., actual ...
// and the scenario goes on (so that one run shows every difference); an assertion or another
// error of the library stops the scenario at the step that raised it. A failure to write the
// report or the dump goes to RunOptions::outputs, never into the scenario's result.
//
// REQUIRES: the throwing assertion handler is installed (Mica::ThrowingAssertions), so that a
// broken precondition becomes a reported failure instead of an abort.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

#include "tools/iesim/Report.h"
#include "tools/iesim/Scenario.h"

namespace IeSim {

class ChromeTrace;
class Explainer;
class Outputs;

struct RunOptions {
  std::string defaultYield;       // --yield; "" for the scheduler's default. Must parse.
  ChromeTrace* chrome = nullptr;  // receives every task run when set
  std::FILE* dump = nullptr;      // --dump: where the end state goes in full, when set
  Explainer* explainer = nullptr; // --explain: told of each step, explains pairs at their points
  // Keeps the failures to write the report, the dump and the failures; when null they are
  // dropped. A write failure never fails the scenario.
  Outputs* outputs = nullptr;
  // The process exits after this scenario: its world (the library's state machines and
  // outputs) is left to the operating system, which takes it back at once, where freeing a
  // million pairs' entities one by one takes seconds.
  bool exitsAfter = false;
  // --trace-from: the traces are off until step `traceFromStep` of each scenario (0: on
  // throughout); `tracesOn` switches the --trace levels on or off.
  size_t traceFromStep = 0;
  std::function<void(bool)> tracesOn = nullptr;
};

struct ScenarioResult {
  size_t steps = 0;     // steps run
  size_t checks = 0;    // expectations that held
  size_t failures = 0;  // failed expectations, assertions and errors
  bool passed() const noexcept { return failures == 0; }
};

ScenarioResult runScenario(const LoadedScenario& scenario, const RunOptions& options,
                           Report& report);
// The same over a scenario it owns: its start state (`initial`) is released once written, since
// nothing reads it again and a million bindings are a tenth of a run's memory. Only this form
// honours RunOptions::exitsAfter.
ScenarioResult runScenario(LoadedScenario&& scenario, const RunOptions& options, Report& report);

}  // namespace IeSim
