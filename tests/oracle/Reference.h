// A reference for every output of the library, computed from the current inputs alone with
// plain maps: no runtime, no state machine, no history.
//
// Each function computes one output from what that output's state machine reads. Chained from
// the inputs (referenceOf) they give what the whole library must hold at a quiescent point; the
// property test instead feeds every stage the library's own upstream outputs and checks each
// stage on its own, so a mismatch names the first stage that is wrong, and equality at every
// stage is equality of the whole chain with referenceOf.
//
// What the reference computes is what a start of the library over these inputs produces, which
// is the plain invariant of each output. Where the live, incremental algorithm reaches a
// different state, that state depends on the order of past events and no function of the current
// inputs gives it; the cases are listed in ReferenceCasesTest.cpp and the property test keeps
// the operations that reach them out of its domain (Generators.h). One output is partly history by
// design: without an InternetExit module, a local option whose interface exists keeps the gate
// it held before or has none (expectedOptions gives both results as acceptable).
#pragma once

#include <string>
#include <vector>

#include "tests/oracle/Plain.h"

namespace IeOracle {

// polToVniLane: (P, v) exactly when lane v is bound to P.
std::set<NameKey> polToVniLaneOf(const Inputs& in);

// The status configuration: a pair for every bound pair; in it, the entries of its policy (when
// configured) with their group keys, and for every configured group an entry names, the group
// with its options. A configured group without options gets an empty group entry, as a start
// of the builder creates one.
std::map<Pair, PairConfig> statusConfigOf(const Inputs& in, const std::set<NameKey>& polToVniLane);

// The reverse map: group -> the policies whose entries name it, at any sequence number.
std::map<NameKey, std::set<NameKey>> groupToPolicyOf(const std::map<Pair, PairConfig>& statusConfig);

// VNIs with a default route: the low 16 bits of the engine VNI of every VRF that has a default
// route, when that VNI is usable (not none, low 16 bits at most 255).
std::set<int> vniDefaultRouteOf(const Inputs& in);
// Bound pairs whose VNI has a default route.
std::set<Pair> vniLaneDefaultRouteOf(const std::set<int>& vniDefaultRoute, const std::set<NameKey>& polToVniLane);

// Exit options: every option of every group entry of the status configuration, with the groups
// of its pair that hold it and the results it may have.
struct ExpectedOption {
  std::set<NameKey> groups;
  std::vector<Result> acceptable;  // one, or two for a local option without a module (see above)
};
std::map<OptionKey, ExpectedOption> expectedOptions(const Inputs& in, const std::map<Pair, PairConfig>& statusConfig,
                                                    const std::set<Pair>& vniLaneDefaultRoute);
// validInterface: an interface of the default VRF, or of a VRF bound to the pair's VNI.
bool validInterface(const Inputs& in, Pair pair, const std::string& vrf);

// Resolver requests: (name, pair) of every remote exit option that has a status.
std::set<NameKey> resolverRequestsOf(const std::map<OptionKey, OptionStatus>& exitOptions);

// Exit groups: per group entry, the results of its options whose status lists the group and
// whose result is usable; groups without such a result are absent.
std::map<NameKey, std::map<OptionKey, Result>> exitGroupsOf(const std::map<Pair, PairConfig>& statusConfig,
                                                            const std::map<OptionKey, OptionStatus>& exitOptions);

// The winner of a policy: its group at the lowest sequence number that has results; none
// (empty name) when no group has any.
NameKey winnerOf(const std::map<double, NameKey>& entries, const std::map<NameKey, std::map<OptionKey, Result>>& exitGroups);
// Policy statuses: every policy of the status configuration with a winner, its winner and the
// distinct results of that group.
std::map<NameKey, PolicyState> policiesOf(const std::map<Pair, PairConfig>& statusConfig,
                                          const std::map<NameKey, std::map<OptionKey, Result>>& exitGroups);

// In-use notifications: (pair, low 16 bits of the aux id) of every remote result of a policy.
std::set<std::pair<Pair, int>> notificationsOf(const std::map<NameKey, PolicyState>& policies);
// The data path's exit table: one entry per pair and exit interface of its policy.
std::set<ExitEntry> exitTableOf(const std::map<NameKey, PolicyState>& policies);

// The whole chain from the inputs, each option at its first acceptable result; the exit table
// is computed when the module is present.
Outputs referenceOf(const Inputs& in);

}  // namespace IeOracle
