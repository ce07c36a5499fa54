#include "Orb/OrbInternetExitStatusSm/IeProgramDpSm.h"

#include "Orb/OrbInternetExitUtil/GateHelpers.h"
#include "platform/module/Module.h"
#include "runtime/InputSm.h"
#include "runtime/Operators.h"
#include "runtime/Path.h"
#include "runtime/ReadyOutput.h"
#include "runtime/internal/LevelSm.h"

namespace OrbInternetExit {

namespace {
// Source 0: policyDir.policyStatus[].exitIntf[]
using ExitIntfPath = Flo::Path<IeProgramDpSm, &IeProgramDpSm::eventToEvalPolicyResult,
                               Flo::Level<&IePolicyDir::policyStatus, "PolicyDirSm32", "policyStatus">,
                               Flo::Level<&PolicyStatus::exitIntf, "PolicyStatusSm33", "exitIntf">>;
// Source 1: orbcsdOpt.internetExitModule
using DataPathModulePath = Flo::Path<IeProgramDpSm, &IeProgramDpSm::eventToEvalIeModule,
                             Flo::Level<&Orb::OrbCommonSmData::internetExitModule, "OrbcsdOptSm34", "internetExitModule">>;

constexpr Flo::Into kIntoSvcNotification{"into( svcNotifDir.svcNotification[ notifKey ] )"};
constexpr Flo::Into kIntoDummy{"into( dummy )"};
}  // namespace

IeProgramDpSm::IeProgramDpSm(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsdOpt,
                             const Mica::Ptr<const IePolicyDir>& policyDir,
                             const Mica::Ptr<SvcInUseNotificationDir>& svcNotifDir, const SmControl& control)
    : StateMachine("OrbInternetExit", "IeProgramDpSm", control),
      orbcsd_(orbcsdOpt),
      policyDir_(policyDir),
      svcNotifDir_(svcNotifDir),
      localAttrStore_(new LocalStore()) {
  argIs("orbcsdOpt()", orbcsd_.get());
  argIs("policyDir()", policyDir_.get());
  argIs("svcNotifDir()", svcNotifDir_.get());

  const size_t evalPolicyResult = pipelineIs("evalPolicyResult");
  const size_t evalIeModule = pipelineIs("evalIeModule");

  auto& policyDirSm32 = inputIs(std::make_unique<Flo::InputArgSm<IePolicyDir>>(*this, "PolicyDirSm32", policyDir_));
  auto& orbcsdOptSm34 =
      inputIs(std::make_unique<Flo::InputArgSm<Orb::OrbCommonSmData>>(*this, "OrbcsdOptSm34", orbcsd_));
  policyDirSm32.sourceIs<Flo::internal::TopLevel<ExitIntfPath>>(0, evalPolicyResult);
  orbcsdOptSm34.sourceIs<Flo::internal::TopLevel<DataPathModulePath>>(1, evalIeModule);

  const std::vector<size_t> both{evalPolicyResult, evalIeModule};
  svcNotificationOutput_ = &outputIs(std::make_unique<Flo::TopOutput<SvcNotificationSpec>>(
      *this, "svcNotifDirSvcNotificationOutput", both, svcNotifDir_));
  outputIs(std::make_unique<Flo::ReadyOutput>(*this, "dummyOutput", both));
}

// evalPolicyResult = from( policyDir.policyStatus[].exitIntf[] )
//   -> filter( module present ) -> updInUseAndPrgDp
void IeProgramDpSm::eventToEvalPolicyResult(const PolicyVniLaneKey& policyKey, const ExitIntfResult& exitIntf,
                                            const Quill::Optional<Quill::Unit>& exitIntfOpt) {
  if (!initialScanDone()) return;
  Flo::from(*this, "evalPolicyResult = from( policyDir.policyStatus[].exitIntf[] ): policyKey={} exitIntf={} exitIntfOpt={}",
            policyKey, exitIntf, exitIntfOpt);
  if (!Flo::filter(*this, orbcsd_->internetExitModule.get() != nullptr, "filter( orbcsdOpt.internetExitModule )")) {
    return;
  }
  const bool isAdd = exitIntfOpt.has_value();
  Flo::note(*this, "evalPolicyResult: isAdd {} for result {} in policy {}", isAdd, exitIntf, policyKey);
  eventToUpdInUseAndPrgDp(policyKey, exitIntf, isAdd);
}

// evalIeModule = from( orbcsdOpt.internetExitModule ) -> filter( ready and module present )
//   -> foreach( policyStatus ) -> foreach( exitIntf ) -> updInUseAndPrgDp( add )
void IeProgramDpSm::eventToEvalIeModule(const Quill::Optional<Mica::Ptr<Orb::Module>>&,
                                        const Quill::Optional<Mica::Ptr<Orb::Module>>& ieModule) {
  if (!initialScanDone()) return;
  Flo::from(*this, "evalIeModule = from( orbcsdOpt.internetExitModule ): ieModule={}", ieModule);
  if (!Flo::filter(*this, ready() && ieModule.has_value(), "filter( ( this.ready && ieModule ) )")) return;
  Flo::note(*this, "evalIeModule: InternetExit module enabled ");
  Flo::foreach(*this, " foreach( policyDir.policyStatus ) flattening {} elements", policyDir_->policyStatus,
               [&](const PolicyVniLaneKey& policyKey, const Mica::Ptr<PolicyStatus>& status) {
                 Flo::note(*this, "evalIeModule: update all results of policy {} to DP", policyKey);
                 Flo::foreach(*this, " foreach( policyStatus.exitIntf ) flattening {} elements", status->exitIntf,
                              [&](const ExitIntfResult& exitIntf) { eventToUpdInUseAndPrgDp(policyKey, exitIntf, true); });
               });
}

// updInUseAndPrgDp = merge( evalPolicyResult, evalIeModule )
//   -> remote result: into( svcNotifDir.svcNotification[ notifKey ] )
//   -> ieUpdateLaneIntf -> into( dummy )
void IeProgramDpSm::eventToUpdInUseAndPrgDp(const PolicyVniLaneKey& policyKey, const ExitIntfResult& exitIntf,
                                            bool isAdd) {
  Flo::merge(*this, "updInUseAndPrgDp = merge( evalPolicyResult, evalIeModule ): policyKey={} exitIntf={} isAdd={}",
             policyKey, exitIntf, isAdd);
  if (exitIntf.resultType == ExitResultType::remoteResolved()) {
    const LaneSvcRemoteGroup notifKey = notifKeyOf(policyKey, exitIntf);
    Flo::note(*this, "updInUseAndPrgDp: updating {} for result {} to svc resolver", isAdd, notifKey);
    svcNotificationOutput_->seen(notifKey);
    if (isAdd) {
      kIntoSvcNotification.inserting(*this, notifKey);
      svcNotifDir_->svcNotificationIs(notifKey);
    } else {
      kIntoSvcNotification.deleting(*this, notifKey);
      svcNotifDir_->svcNotificationDel(notifKey);
    }
  }
  Flo::note(*this, "updInUseAndPrgDp: sending {} for result {} in policy {} to DP", isAdd, exitIntf, policyKey);
  const bool queued = ieUpdateLaneIntf(orbcsd_, policyKey.vniLaneId, exitIntf, isAdd);
  kIntoDummy.insertingValue(*this, queued);
  workDone(1);
  localAttrStore_->set<Dummy>(queued);
}

Mica::Ptr<IeProgramDpSm> IeProgramDpSm::IeProgramDpSmIs(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsdOpt,
                                                        const Mica::Ptr<const IePolicyDir>& policyDir,
                                                        const Mica::Ptr<SvcInUseNotificationDir>& svcNotifDir,
                                                        const SmControl& control) {
  Mica::Ptr<IeProgramDpSm> sm(new IeProgramDpSm(orbcsdOpt, policyDir, svcNotifDir, control));
  sm->handleInitialized();
  sm->hasNotificationActiveIs(true);
  return sm;
}

Mica::Ptr<IeProgramDpSm> ieProgramDpSmFactory(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsdOpt,
                                              const Mica::Ptr<const IePolicyDir>& policyDir,
                                              const Mica::Ptr<SvcInUseNotificationDir>& svcNotifDir,
                                              const SmControl& control) {
  return IeProgramDpSm::IeProgramDpSmIs(orbcsdOpt, policyDir, svcNotifDir, control);
}

}  // namespace OrbInternetExit
