// IePolicyToVniLaneSm: the set of bound (policy, pair) keys, from the lane status.
//
// Input:   laneStatusDir.laneToIEMap   pair -> bound policy name
// Output:  iePolicyToVniLaneDir.polToVniLane   set of PolicyVniLaneKey
//
//   laneStatusDir.laneToIEMap[] ──> evalLaneToIePolicy ──> iePolicyToVniLaneDir.polToVniLane
//                 (LaneStatusDirSm0, source 0)      (retract old name, assert new name)
//
// Invariant once ready: polToVniLane holds (P, v) exactly when laneToIEMap[v] = P.
// A rebinding of v from P to Q removes (P, v), then adds (Q, v). At start over a non-empty
// polToVniLane (an agent restart), keys that the current bindings imply are re-asserted without
// being deleted, and the others are deleted by the reconciliation.
//
// Both pointer arguments are mandatory. Traces: "OrbInternetExitStatusSm" (or the control's
// handler) at levels 6 to 9, and the Blip record "evalLaneToIePolicy: policy {} isAdd {}".
#pragma once

#include "platform/agents/LaneStatusDir.h"
#include "runtime/Output.h"
#include "runtime/StateMachine.h"
#include "types/IePolicyToVniLaneDir.h"

namespace OrbInternetExit {

using Flo::SmControl;

class IePolicyToVniLaneSm final : public Flo::StateMachine {
 public:
  IePolicyToVniLaneSm(const Mica::Ptr<const Lane::LaneStatusDir>& laneStatusDir,
                      const Mica::Ptr<IePolicyToVniLaneDir>& iePolicyToVniLaneDir,
                      const SmControl& control);

  const Mica::Ptr<const Lane::LaneStatusDir>& laneStatusDir() const noexcept { return laneStatusDir_; }
  const Mica::Ptr<IePolicyToVniLaneDir>& iePolicyToVniLaneDir() const noexcept {
    return iePolicyToVniLaneDir_;
  }

  // Pipeline evalLaneToIePolicy: one change of laneToIEMap[vniLaneId].
  void eventToEvalLaneToIePolicy(const VniAndLaneId& vniLaneId,
                                 const Quill::Optional<Mica::String>& oldPolicyNameOpt,
                                 const Quill::Optional<Mica::String>& newPolicyNameOpt);

 private:
  struct PolToVniLaneSpec
      : Flo::CollOutputSpec<IePolicyToVniLaneDir, &IePolicyToVniLaneDir::polToVniLane,
                            &IePolicyToVniLaneDir::polToVniLaneDel> {};

  void intoPolToVniLane(const PolicyVniLaneKey& policyKey, bool isAdd);

  Mica::Ptr<const Lane::LaneStatusDir> laneStatusDir_;
  Mica::Ptr<IePolicyToVniLaneDir> iePolicyToVniLaneDir_;
  size_t evalLaneToIePolicyPipeline_;
  Flo::TopOutput<PolToVniLaneSpec>* polToVniLaneOutput_;
};

// Creates the state machine and runs its start-up (first scan slice, or everything when the
// control asks for synchronous mode).
Mica::Ptr<IePolicyToVniLaneSm> iePolicyToVniLaneSmFactory(
    const Mica::Ptr<const Lane::LaneStatusDir>& laneStatusDir,
    const Mica::Ptr<IePolicyToVniLaneDir>& iePolicyToVniLaneDir, const SmControl& control);

// The same, for the runtime's generic construction.
Mica::Ptr<IePolicyToVniLaneSm> IePolicyToVniLaneSmIs(
    const Mica::Ptr<const Lane::LaneStatusDir>& laneStatusDir,
    const Mica::Ptr<IePolicyToVniLaneDir>& iePolicyToVniLaneDir, const SmControl& control);

}  // namespace OrbInternetExit
