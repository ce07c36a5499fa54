// Checks the library's outputs against the reference, stage by stage: each output against the
// reference computed from the inputs and from the library's own outputs upstream of it (see
// Reference.h), so that the first mismatch names the stage that is wrong.
#pragma once

#include <string>
#include <vector>

#include "tests/oracle/Plain.h"

namespace IeOracle {

struct CompareOptions {
  // The data path holds exactly the policies' interfaces. Otherwise it must hold them and may
  // hold more: entries whose delete the programming state machine never saw (it was starting).
  bool exactExitTable = true;
  // The in-use notifications are exactly those of the policies' remote interfaces. Otherwise
  // they must hold those and may hold more: notifications whose delete IeProgramDpSm dropped
  // (no module, or starting). Without a module they are not compared: every change is dropped
  // at its filter and they stay as the module left them.
  bool exactNotifications = true;
};

// One line per output that differs, e.g.
//   "exitGroup: missing {Wan@1.1 localExit:wan1@1.1 intf=eth1 ...}; unexpected {...}"
// Empty when every output equals its reference.
std::vector<std::string> compareWithReference(const Inputs& in, const Outputs& actual, const CompareOptions& options);

// The facts of each output, one line each ("bound Gold@1.1", "entry Gold@1.1 10 -> Wan@1.1").
Facts facts(const std::set<NameKey>& polToVniLane);
Facts facts(const std::map<Pair, PairConfig>& statusConfig);
Facts facts(const std::map<NameKey, std::map<OptionKey, Result>>& exitGroups);
Facts facts(const std::map<NameKey, PolicyState>& policies);
Facts facts(const std::set<ExitEntry>& exitTable);

// "missing {a, b}; unexpected {c}", or empty when equal.
std::string diff(const Facts& expected, const Facts& actual);

}  // namespace IeOracle
