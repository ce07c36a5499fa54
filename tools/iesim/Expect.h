// Checking an expect step against the simulated agent.
//
// Every expectation the step gives is checked, also after one has failed, so that a report
// shows all the differences at once. Texts name the output and give expected and actual values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "proto/scenario.pb.h"
#include "types/IePolicyToVniLaneDir.h"

namespace IeSim {

// What an expect step can look at.
struct Observed {
  const OrbInternetExit::IePolicyToVniLaneDir& output;
  bool smReady;
  bool smIdle;
  uint64_t added;    // changes of polToVniLane since the previous expect step
  uint64_t removed;
};

struct ExpectOutcome {
  std::vector<std::string> passed;  // e.g. "polToVniLane is {Gold@10.1, Silver@10.2}"
  std::vector<std::string> failed;  // e.g. "polToVniLane: expected ..., actual ..."
};

ExpectOutcome checkExpect(const iesim::pb::Expect& expect, const Observed& observed);

// "{A@1.1, B@1.2}", at most `limit` keys, then ", ... (N more)".
std::string keySetText(const OrbInternetExit::IePolicyToVniLaneDir& output, size_t limit = 20);

}  // namespace IeSim
