#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"

#include "runtime/InputSm.h"
#include "runtime/Operators.h"
#include "runtime/Path.h"
#include "runtime/internal/LevelSm.h"

namespace OrbInternetExit {

namespace {
const Mica::DebugHandler& defaultTracer() {
  static const Mica::Ptr<Mica::DebugHandler> handler = Mica::Platform::getDebugHandler(Flo::kDefaultTraceName);
  return *handler;
}

// Source 0: laneStatusDir.laneToIEMap[], served by LaneStatusDirSm0.
using LaneToIEMapPath =
    Flo::Path<IePolicyToVniLaneSm, &IePolicyToVniLaneSm::eventToEvalLaneToIePolicy,
              Flo::Level<&Lane::LaneStatusDir::laneToIEMap, "LaneStatusDirSm0", "laneToIEMap">>;
}  // namespace

IePolicyToVniLaneSm::IePolicyToVniLaneSm(
    const Mica::Ptr<const Lane::LaneStatusDir>& laneStatusDir,
    const Mica::Ptr<IePolicyToVniLaneDir>& iePolicyToVniLaneDir, const SmControl& control)
    : StateMachine("OrbInternetExit", "IePolicyToVniLaneSm", control),
      laneStatusDir_(laneStatusDir),
      iePolicyToVniLaneDir_(iePolicyToVniLaneDir) {
  argIs("laneStatusDir()", laneStatusDir_.get());
  argIs("iePolicyToVniLaneDir()", iePolicyToVniLaneDir_.get());
  evalLaneToIePolicyPipeline_ = pipelineIs("evalLaneToIePolicy");

  auto& laneStatusDirSm0 = inputIs(
      std::make_unique<Flo::InputArgSm<Lane::LaneStatusDir>>(*this, "LaneStatusDirSm0", laneStatusDir_));
  laneStatusDirSm0.sourceIs<Flo::internal::TopLevel<LaneToIEMapPath>>(0, evalLaneToIePolicyPipeline_);

  polToVniLaneOutput_ = &outputIs(std::make_unique<Flo::TopOutput<PolToVniLaneSpec>>(
      *this, "iePolicyToVniLaneDirPolToVniLaneOutput",
      std::vector<size_t>{evalLaneToIePolicyPipeline_}, iePolicyToVniLaneDir_));
}

// evalLaneToIePolicy = from( laneStatusDir.laneToIEMap[] )
//   -> foreach( [ (old if it differs from new, else None, false), (new, true) ] )
//   -> filter( name present ) -> into( iePolicyToVniLaneDir.polToVniLane[ policyKey ] )
void IePolicyToVniLaneSm::eventToEvalLaneToIePolicy(
    const VniAndLaneId& vniLaneId, const Quill::Optional<Mica::String>& oldPolicyNameOpt,
    const Quill::Optional<Mica::String>& newPolicyNameOpt) {
  if (!initialScanDone()) return;
  Flo::from(*this,
            "evalLaneToIePolicy = from( laneStatusDir.laneToIEMap[] ): vniLaneId={} oldPolicyNameOpt={} newPolicyNameOpt={}",
            vniLaneId, oldPolicyNameOpt, newPolicyNameOpt);
  Flo::foreachChange(
      *this,
      " foreach( [ ( if ( _oldValueOpt1 != _newValueOpt2 ) then _oldValueOpt1 else None, false ), ( _newValueOpt2, true ) ] ) flattening {} elements",
      oldPolicyNameOpt, newPolicyNameOpt, [&](const Quill::Optional<Mica::String>& valueOpt, bool isAdd) {
        if (!Flo::filter(*this, valueOpt.has_value(), "filter( _valueOpt3 )")) return;
        const PolicyVniLaneKey policyKey(*valueOpt, vniLaneId);
        // Always on the default handler, whatever handler the control names.
        Flo::note(blip(), defaultTracer(), Flo::kLevelKey, "evalLaneToIePolicy: policy {} isAdd {}", policyKey,
                  isAdd);
        intoPolToVniLane(policyKey, isAdd);
      });
}

void IePolicyToVniLaneSm::intoPolToVniLane(const PolicyVniLaneKey& policyKey, bool isAdd) {
  static constexpr Flo::Into into{"into( iePolicyToVniLaneDir.polToVniLane[ policyKey ] )"};
  polToVniLaneOutput_->seen(policyKey);
  if (isAdd) {
    into.inserting(*this, policyKey);
    iePolicyToVniLaneDir_->polToVniLaneIs(policyKey);
  } else {
    into.deleting(*this, policyKey);
    iePolicyToVniLaneDir_->polToVniLaneDel(policyKey);
  }
}

Mica::Ptr<IePolicyToVniLaneSm> iePolicyToVniLaneSmFactory(
    const Mica::Ptr<const Lane::LaneStatusDir>& laneStatusDir,
    const Mica::Ptr<IePolicyToVniLaneDir>& iePolicyToVniLaneDir, const SmControl& control) {
  Mica::Ptr<IePolicyToVniLaneSm> sm(new IePolicyToVniLaneSm(laneStatusDir, iePolicyToVniLaneDir, control));
  sm->handleInitialized();
  return sm;
}

Mica::Ptr<IePolicyToVniLaneSm> IePolicyToVniLaneSmIs(
    const Mica::Ptr<const Lane::LaneStatusDir>& laneStatusDir,
    const Mica::Ptr<IePolicyToVniLaneDir>& iePolicyToVniLaneDir, const SmControl& control) {
  return iePolicyToVniLaneSmFactory(laneStatusDir, iePolicyToVniLaneDir, control);
}

}  // namespace OrbInternetExit
