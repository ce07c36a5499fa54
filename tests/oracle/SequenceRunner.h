// Runs a generated sequence through the simulator's World, step by step as iesim would, and
// checks the library against the reference at every quiescent point.
//
// A quiescent point is the end of a `run` step without max_runs: every state machine is then
// ready and idle, and every output, the data path's exit table and the gates the module holds
// must equal the reference (Compare.h). A `restart` at a quiescent point followed by such a run
// must write nothing: no output changes, no gate is asked for or given back, and the exit table
// stays as it was (a restarted IeProgramDpSm sends every interface again as an add, which the
// data path refuses as a repeat). Restarts of the default-route trackers are left out of that
// check: they empty and refill their sets by design.
//
// Two facts depend on where a restart fell, and the runner tracks them instead of the reference:
//   - entries of the exit table whose delete IeProgramDpSm never saw (it was starting while the
//     policies changed) stay in the data path until the module is replaced; the table must then
//     hold the policies' interfaces and may hold more;
//   - gates that IeExitOptionStatusSm never gave back (an option left its last group while it
//     was starting), and gates held from an earlier module, make the gate manager's counts
//     differ from the options' gates; the gates are compared only while neither happened since
//     the module came.
// Steps outside the domain (Generators.h) are skipped and not recorded.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "proto/scenario.pb.h"
#include "tests/oracle/Generators.h"

namespace IeOracle {

struct SequenceOutcome {
  std::vector<iesim::pb::Step> executed;  // the steps that ran, the failing one last
  std::string failure;                    // empty when every check held
  size_t skipped = 0;  // generated steps outside the domain, not run
  size_t quiescentChecks = 0;
  size_t quietRestarts = 0;  // restarts at a quiescent point checked to write nothing
};

// REQUIRES: the throwing assertion handler is installed (Mica::ThrowingAssertions); an assertion
// of the library is reported as a failure of the step that raised it.
struct RunSettings {
  // Skips the steps outside the domain (Generators.h); off, every step runs.
  bool domainOnly = true;
  // When set, the World's end state is dumped there as `iesim --dump` writes it.
  std::FILE* endState = nullptr;
};
SequenceOutcome runSequence(const Sequence& sequence, const RunSettings& settings = {});

// The scenario file of an outcome: the sequence's start state and the steps that ran, with the
// failure as its description.
iesim::pb::Scenario scenarioOf(const Sequence& sequence, const SequenceOutcome& outcome);
std::string scenarioText(const iesim::pb::Scenario& scenario);

}  // namespace IeOracle
