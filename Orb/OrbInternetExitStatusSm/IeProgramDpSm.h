// IeProgramDpSm: sends every exit interface of every policy to the data path, and announces the
// remote service groups in use to the service resolver.
//
// Inputs (source: path, input SMs):
//   0  policyDir.policyStatus[].exitIntf[]   PolicyDirSm32 > PolicyStatusSm33   evalPolicyResult
//   1  orbcsdOpt.internetExitModule          OrbcsdOptSm34                      evalIeModule
//
//   evalPolicyResult (one interface gained or lost, module present) ──┐
//   evalIeModule (the module arrived while ready: every interface) ───┴─> updInUseAndPrgDp
//        remote result: into( svcNotifDir.svcNotification[ (pair, low 16 bits of auxId) ] )
//        then: ieUpdateLaneIntf -> "addLaneIeExitInfo" / "delLaneIeExitInfo"; into( dummy )
//
// Outputs: svcNotifDir.svcNotification (reconciled at start), and the local `dummy` (the last
// answer of ieUpdateLaneIntf).
//
// The machine keeps no table of what it sent: the data path mirrors IePolicyDir through the stream
// of commands. Without a module, changes are dropped (filter trace); the module's arrival, once
// the machine is ready, sends every current interface again as an add, and losing the module
// sends nothing. A notification key has no count: removing one of two interfaces of a pair that
// map to the same remote group removes the key.
#pragma once

#include "platform/agents/SvcInUseNotificationDir.h"
#include "platform/engine/OrbCommonSmData.h"
#include "runtime/LocalAttrStore.h"
#include "runtime/Output.h"
#include "runtime/StateMachine.h"
#include "types/IePolicyDir.h"

namespace Orb {
class Module;
}

namespace OrbInternetExit {

using Flo::SmControl;

class IeProgramDpSm final : public Flo::StateMachine {
 public:
  using Dummy = Flo::LocalScalar<bool, "dummy">;
  using LocalStore = Flo::LocalAttrStore<Dummy>;

  IeProgramDpSm(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsdOpt, const Mica::Ptr<const IePolicyDir>& policyDir,
                const Mica::Ptr<SvcInUseNotificationDir>& svcNotifDir, const SmControl& control);

  // Constructs the state machine, runs its start-up and turns its notifications on.
  static Mica::Ptr<IeProgramDpSm> IeProgramDpSmIs(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsdOpt,
                                                  const Mica::Ptr<const IePolicyDir>& policyDir,
                                                  const Mica::Ptr<SvcInUseNotificationDir>& svcNotifDir,
                                                  const SmControl& control);

  const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsdOpt() const noexcept { return orbcsd_; }
  const Mica::Ptr<const IePolicyDir>& policyDir() const noexcept { return policyDir_; }
  const Mica::Ptr<SvcInUseNotificationDir>& svcNotifDir() const noexcept { return svcNotifDir_; }
  const LocalStore& localAttrStore() const noexcept { return *localAttrStore_; }

  void eventToEvalPolicyResult(const PolicyVniLaneKey& policyKey, const ExitIntfResult& exitIntf,
                               const Quill::Optional<Quill::Unit>& exitIntfOpt);
  void eventToEvalIeModule(const Quill::Optional<Mica::Ptr<Orb::Module>>& oldModuleOpt,
                           const Quill::Optional<Mica::Ptr<Orb::Module>>& ieModule);
  void eventToUpdInUseAndPrgDp(const PolicyVniLaneKey& policyKey, const ExitIntfResult& exitIntf, bool isAdd);

  // The notification key of a remote result of a policy: its pair and the low 16 bits of auxId.
  static LaneSvcRemoteGroup notifKeyOf(const PolicyVniLaneKey& policyKey, const ExitIntfResult& exitIntf) {
    return LaneSvcRemoteGroup(policyKey.vniLaneId, static_cast<uint16_t>(exitIntf.auxId & 0xFFFF));
  }

 private:
  struct SvcNotificationSpec
      : Flo::CollOutputSpec<SvcInUseNotificationDir, &SvcInUseNotificationDir::svcNotification,
                            &SvcInUseNotificationDir::svcNotificationDel> {};

  Mica::Ptr<const Orb::OrbCommonSmData> orbcsd_;
  Mica::Ptr<const IePolicyDir> policyDir_;
  Mica::Ptr<SvcInUseNotificationDir> svcNotifDir_;
  Mica::Ptr<LocalStore> localAttrStore_;
  Flo::TopOutput<SvcNotificationSpec>* svcNotificationOutput_;
};

Mica::Ptr<IeProgramDpSm> ieProgramDpSmFactory(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsdOpt,
                                              const Mica::Ptr<const IePolicyDir>& policyDir,
                                              const Mica::Ptr<SvcInUseNotificationDir>& svcNotifDir,
                                              const SmControl& control);

}  // namespace OrbInternetExit
