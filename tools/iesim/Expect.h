// Checking an expect step against the simulated agent.
//
// Every expectation the step gives is checked, also after one has failed, so that a report
// shows all the differences at once. Texts name the output and give expected and actual values,
// e.g. "polToVniLane: expected {Gold@1.2, Silver@1.3}, actual {Gold@1.2}; missing {Silver@1.3}".
#pragma once

#include <string>
#include <vector>

#include "proto/scenario.pb.h"
#include "tools/iesim/World.h"

namespace IeSim {

struct ExpectOutcome {
  std::vector<std::string> passed;  // e.g. "polToVniLane is {Gold@10.1, Silver@10.2}"
  std::vector<std::string> failed;  // e.g. "polToVniLane: expected ..., actual ..."
  std::vector<int> failedField;     // per failure, the field of iesim::pb::Expect it checks
};

// Checks `expect` against `world`; change counts are those since world.resetCounts().
ExpectOutcome checkExpect(const iesim::pb::Expect& expect, const World& world);

}  // namespace IeSim
