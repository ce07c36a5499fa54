// Answers "why does this pair exit there?" for a (VNI, lane) pair, at the end of a scenario or
// after a given step (iesim --explain VNI.LANE[@STEP]).
//
// The answer is computed from the library's inputs and outputs at that point, never written in
// the scenario: the pair's binding, per policy its entries by sequence number, per entry its
// group and the group's options with their results and the reason of each as the inputs give it
// (OptionReason.h), the winning group and why the groups before it lost, the policy's exit
// interfaces, the data path's entries for the pair and its in-use notifications, and the last
// step that changed the pair with the causes the step report gave. Wherever an output does not
// follow from what it is computed from, a "MISMATCH" line says so: that is a bug signal, or the
// state machines have not caught up (a note says when they are not ready and idle).
//
//   explain 10.1 after step 2 (line 20): interface eth1 absent (removed)
//     binding          policy Gold; polToVniLane Gold@10.1
//     policy           Gold@10.1 wins Backup
//     seq 10           Primary: down, no usable option
//                        localExit:wan1      noResult intf=eth1 gate=none aux=5: interface eth1 absent
//     ...
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/iesim/Report.h"
#include "tools/iesim/Scenario.h"
#include "tools/iesim/World.h"

namespace IeSim {

struct ExplainRequest {
  std::string text;                 // as given, e.g. "10.1@2"
  Lane::VniAndLaneId pair;
  std::optional<size_t> step;       // after this step (0: the start); the end when empty
};

// Parses "VNI.LANE" or "VNI.LANE@STEP"; on failure sets `error` to a text naming the value.
std::optional<ExplainRequest> parseExplainRequest(std::string_view text, std::string* error);

// The last step that changed a pair: the step and the cause lines about the pair.
struct PairChange {
  size_t number = 0;  // 0: the start
  Location at;
  std::string what;
  std::vector<std::string> causes;
};

// The explanation of `pair` in the world as it is now, one line each. `last` (may be null) is
// the last step that changed the pair. Empty when the world knows nothing of the pair.
std::vector<std::string> explainPair(const World& world, Lane::VniAndLaneId pair, const PairChange* last);

// Follows a scenario's steps and prints the requested explanations, each at its point, to `out`.
// A request that cannot be answered (a step beyond the scenario's or not reached, a pair the
// scenario does not know) is an error: written to `err`, naming the value, and counted.
class Explainer {
 public:
  Explainer(std::FILE* out, std::FILE* err, std::vector<ExplainRequest> requests)
      : out_(out), err_(err), requests_(std::move(requests)) {}

  bool empty() const noexcept { return requests_.empty(); }
  // Whether a request asks about `pair`: a step report keeps every cause line about it.
  bool follows(Lane::VniAndLaneId pair) const noexcept {
    return std::any_of(requests_.begin(), requests_.end(), [&](const ExplainRequest& q) { return q.pair == pair; });
  }
  void scenarioStarted(const LoadedScenario& s);
  // After the start (r.number 0) and after each step.
  void stepDone(const World& world, const StepRecord& r);
  void scenarioEnded(const World& world);
  size_t errors() const noexcept { return errors_; }

 private:
  void explain(const World& world, size_t request, const std::string& when);
  void error(const ExplainRequest& q, const std::string& text);

  std::FILE* out_;
  std::FILE* err_;
  std::vector<ExplainRequest> requests_;
  std::string scenario_;
  size_t stepsInScenario_ = 0;
  size_t lastStepDone_ = 0;
  bool started_ = false;
  // Per request, the last step whose causes named its pair.
  std::vector<std::optional<PairChange>> lastChange_;
  size_t errors_ = 0;
};

}  // namespace IeSim
