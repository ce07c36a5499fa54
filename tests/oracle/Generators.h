// Random sequences over a small domain, as scenario steps of the simulator (proto/scenario.proto):
// every operation of a sequence is one `step` of a scenario file, so that the sequence a property
// fails on is written out as the scenario that iesim replays.
//
// The domain: pairs 1.1, 1.2, 2.1, 2.2; policies Gold and Silver (and Bronze, never configured);
// groups Wan, Lte and Far; the options localExit:wan1, localExit:wan2, remoteExit:peer,
// remoteExit:edge and fibDefault:; connections wan1 and wan2 over eth1..eth3 in the default VRF
// or blue; VRFs blue (id 1, VNI 1), red (2) and green (3); default routes; resolver answers; the
// InternetExit module (or an SiEdge) present or absent; restarts of any subset of the state
// machines, created in data-flow or in a shuffled order, under any yield policy, and runs of the
// scheduler cut short.
//
// Left out, because the library's state after them depends on the order of past events and no
// reference computed from the inputs can give it (ReferenceCasesTest.cpp names each case):
//   - a policy naming one group at two sequence numbers (the entries' retraction drops the group);
//   - a group configured without options while entries name it (no group entry until one is
//     asserted again); configure_group always gives at least one option;
//   - removing a policy that has entries (the status configuration of its pairs goes until they
//     are bound again);
//   - changing bindings or policy entries while IePolicyToVniLaneSm or IeStatusConfigSm starts:
//     the second pass of the bindings may add (Q, v) before their reconciliation deletes the stale
//     (P, v), and the builder deletes the pair's whole status configuration on that deletion;
//     and while the builder starts, option changes reach the groups that stale entries of the
//     earlier run name, whose group entries then survive reconciliation;
//   - changing bindings while IePolicyStatusSm starts: the pair's new policy may gain its
//     interfaces before reconciliation deletes the old policy's status, and a result both hold
//     is then refused by the data path as a repeated add and removed by the old one's delete;
//   - rebinding VRF blue, which connections use: a change of vxlanInfo re-evaluates no option;
//   - pair 0.0, VNI 0 and an absent vxlanInfo (local options then assert).
// Steps that would reach them are generated but skipped when run (SequenceRunner), and so are
// module changes while a state machine is starting (its "ready" filter drops them by design).
#pragma once

#include <rapidcheck.h>

#include <iosfwd>
#include <string>
#include <vector>

#include "proto/scenario.pb.h"

namespace IeOracle {

// The interfaces of the domain; the runner reads the gates of these.
inline const std::vector<std::string> kInterfaces = {"eth1", "eth2", "eth3"};

struct Sequence {
  iesim::pb::Initial initial;
  std::vector<iesim::pb::Step> steps;
};

// The sequence as scenario text, for RapidCheck's counterexample.
std::ostream& operator<<(std::ostream& os, const Sequence& s);

rc::Gen<iesim::pb::Initial> genInitial();
rc::Gen<iesim::pb::Step> genStep();
rc::Gen<Sequence> genSequence();

}  // namespace IeOracle
