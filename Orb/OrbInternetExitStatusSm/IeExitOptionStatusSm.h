// IeExitOptionStatusSm: the live result of every exit option of every (VNI, lane) pair.
//
// Inputs (source: path, input SMs), input SMs created in the order 17, 16, 14, 13, 10:
//   0  config.statusConfig[].exitGroupStatusConfig[].exitOption[]
//                                     ConfigSm10 > StatusConfigSm11 > ExitGroupStatusConfigSm12   optToGrpMap
//   1  defaultRouteDir.defaultRoute[]         DefaultRouteDirSm13                                 defRouteResult
//   2  connStatusDir.connection[].resultConnIntf  ConnStatusDirSm14 > ConnectionSm15              connResult
//   3  orbcsd.l3Intf[]                        OrbcsdSm16                                          orbcsdIntf
//   4  orbcsd.internetExitModule              OrbcsdSm16                                          evalIeModule
//   5  svcRespDir.resolverResponse[]          SvcRespDirSm17                                      svcReslvResp
//
//   optToGrpMap ──┬──────────────────────────────> updAnonymousResult ──┐
//   defRouteResult ┘                                                     │
//   optToGrpMap, evalIeModule, connResult, orbcsdIntf ─> updLocalExitResult
//        ├─ flo_pipeline0 (one option) ─┐                                ├─> resultExitIntf
//        └─ flo_pipeline1 (all options  ├─> flo_pipeline2 (local eval.) ┘
//                          of one name) ┘
//   optToGrpMap, evalIeModule, svcReslvResp ──> updRemoteExitResult ──────┘
//
// Outputs:
//   exitOptionDir.exitOptionStatus[ exitOptKey ].group[ egKey ]   (reconciled at start)
//   exitOptionStatus.resultExitIntf                               (overwritten, not reconciled)
//   temp                                                          (local: last removeGateId answer)
//
// Invariants once ready (K an option key of pair v, G a group of v):
//   exitOptionStatus[K] exists exactly while some statusConfig[v].exitGroupStatusConfig[G]
//   holds K, and its group set is the set of those G; its result is the one the table of
//   results gives for the current connection, interface, module, resolver and default-route
//   state, except that a result is not re-evaluated when only a VRF's VNI binding changes
//   (vxlanInfo is read, not followed).
// Gates: a local option asks createOrFetchGateId for a gate when its interface becomes usable
// and gives it back through removeGateId when it leaves its last group, when its connection
// moves off the interface, or when the interface leaves orbcsd.l3Intf. Reconciliation at start
// deletes stale entries without giving their gates back.
//
// Cost: the walks over every exit option that the algorithm defines (an interface change visits
// the options whose result uses the interface; a connection change the options named after
// it) use two indexes while their per-element traces (levels 6 and 9) are off: options by name
// and options by result interface. Those give
// the elements the walk's filters pass, in the walk's order, so the outputs are those of the
// full walk. After a start over an earlier run's output, until it has reconciled, events that
// give a gate back walk every option (entries of the earlier run are not indexed yet); the others
// use the indexes, and the entries they skip are evaluated by their own second pass. The
// module's arrival walks every option, as defined.
#pragma once

#include <utility>

#include "Orb/OrbSiEdgeHelper/DefaultRoutePresent.h"
#include "platform/agents/SiConnectionStatusDir.h"
#include "platform/agents/SvcResolverDirs.h"
#include "platform/engine/OrbCommonSmData.h"
#include "runtime/LocalAttrStore.h"
#include "runtime/Output.h"
#include "runtime/PooledTree.h"
#include "runtime/StateMachine.h"
#include "types/IeExitOptionDir.h"
#include "types/IeStatusConfigDir.h"

namespace Orb {
class Module;
}

namespace OrbInternetExit {

using Flo::SmControl;
using OrbL3Unicast::DefaultRoutePresentForVniLane;

class IeExitOptionStatusSm final : public Flo::StateMachine {
 public:
  using Temp = Flo::LocalScalar<bool, "temp">;
  using LocalStore = Flo::LocalAttrStore<Temp>;

  IeExitOptionStatusSm(const Mica::Ptr<const IeStatusConfigDir>& config,
                       const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd,
                       const Mica::Ptr<const SiConnectionStatusDir>& connStatusDir,
                       const Mica::Ptr<const SvcResolverResponseDir>& svcRespDir,
                       const Mica::Ptr<const DefaultRoutePresentForVniLane>& defaultRouteDir,
                       const Mica::Ptr<IeExitOptionDir>& exitOptionDir, const SmControl& kivaControl);

  const Mica::Ptr<const IeStatusConfigDir>& config() const noexcept { return config_; }
  const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd() const noexcept { return orbcsd_; }
  const Mica::Ptr<const SiConnectionStatusDir>& connStatusDir() const noexcept { return connStatusDir_; }
  const Mica::Ptr<const SvcResolverResponseDir>& svcRespDir() const noexcept { return svcRespDir_; }
  const Mica::Ptr<const DefaultRoutePresentForVniLane>& defaultRouteDir() const noexcept { return defaultRouteDir_; }
  const Mica::Ptr<IeExitOptionDir>& exitOptionDir() const noexcept { return exitOptionDir_; }
  const LocalStore& localAttrStore() const noexcept { return *localAttrStore_; }

  // The source pipelines, in source-number order.
  void eventToOptToGrpMap(VniAndLaneId vniLaneId, const GroupVniLaneKey& egKey, const ExitVniLaneKey& exitOptKey,
                          const Quill::Optional<Quill::Unit>& isAddOpt);
  void eventToDefRouteResult(VniAndLaneId vniLane, const Quill::Optional<Quill::Unit>& presentOpt);
  void eventToConnResult(const Mica::String& connName, const Quill::Optional<ResultConnIntf>& oldResultOpt,
                         const Quill::Optional<ResultConnIntf>& unused);
  void eventToOrbcsdIntf(const Wire::IntfId& intfId, const Quill::Optional<Mica::Ptr<const Orb::L3Intf>>& entryOpt);
  void eventToEvalIeModule(const Quill::Optional<Mica::Ptr<Orb::Module>>& oldModuleOpt,
                           const Quill::Optional<Mica::Ptr<Orb::Module>>& ieModule);
  void eventToSvcReslvResp(const VniLaneSvcGroupName& laneVniSvcGrpName,
                           const Quill::Optional<SvcResolverResponse>& oldResponseOpt,
                           const Quill::Optional<SvcResolverResponse>& newResponseOpt);

  // The merged result pipelines.
  void eventToUpdLocalExitResult(const ExitVniLaneKey& inputOptKey, const Quill::Optional<Wire::IntfId>& remIntfOpt);
  void eventToUpdRemoteExitResult(const ExitVniLaneKey& exitOptKey);
  void eventToUpdAnonymousResult(const ExitVniLaneKey& exitOptKey);

  // The output's key: (option, group).
  using GroupKey = std::pair<ExitVniLaneKey, GroupVniLaneKey>;

 private:
  // Removes the group, and the option's entry with its last group.
  struct GroupSpec : Flo::TwoLevelOutputSpec<IeExitOptionDir, &IeExitOptionDir::exitOptionStatus, &ExitOptionStatus::group,
                                             &IeExitOptionDir::exitOptionStatusDel, &ExitOptionStatus::groupDel> {};

  // The local evaluation of one option (flo_pipeline2).
  void eventToFlo_pipeline2(const ExitVniLaneKey& exitOptKey, const Quill::Optional<Wire::IntfId>& remIntfOpt);
  ExitIntfResult localCandidate(const ExitVniLaneKey& exitOptKey) const;

  // `into( exitOptionStatus.resultExitIntf )`, keeping the interface index in step.
  void intoResult(ExitOptionStatus& status, const ExitIntfResult& result);
  void intoGroup(const ExitVniLaneKey& exitOptKey, const GroupVniLaneKey& egKey, bool isAdd);

  // Whether a walk over every option must run as written: its per-element traces are on, or
  // (`givesBack`: the event gives a gate back) entries of an earlier run, not in the indexes,
  // may remain.
  bool fullWalk(bool givesBack) const;
  // Runs fn(key) for every option whose result uses `intfId`, in key order.
  template <class Fn>
  void forEachOptionUsing(const Wire::IntfId& intfId, bool givesBack, Fn&& fn);
  // Runs fn(key) for every local option named `name`, in key order.
  template <class Fn>
  void forEachLocalOptionNamed(const Mica::String& name, bool givesBack, Fn&& fn);

  Mica::Ptr<const IeStatusConfigDir> config_;
  Mica::Ptr<const Orb::OrbCommonSmData> orbcsd_;
  Mica::Ptr<const SiConnectionStatusDir> connStatusDir_;
  Mica::Ptr<const SvcResolverResponseDir> svcRespDir_;
  Mica::Ptr<const DefaultRoutePresentForVniLane> defaultRouteDir_;
  Mica::Ptr<IeExitOptionDir> exitOptionDir_;
  Mica::Ptr<LocalStore> localAttrStore_;
  Flo::TopOutput<GroupSpec>* groupOutput_;
  // Local options by (name, pair), and options by (result interface, key); see Cost above.
  Flo::PooledSet<std::pair<Mica::String, VniAndLaneId>> localByName_;
  Flo::PooledSet<std::pair<Wire::IntfId, ExitVniLaneKey>> byIntf_;
  bool startedOverOutput_ = false;  // exitOptionStatus held entries when this machine was created
};

Mica::Ptr<IeExitOptionStatusSm> ieExitOptionStatusSmFactory(
    const Mica::Ptr<const IeStatusConfigDir>& config, const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd,
    const Mica::Ptr<const SiConnectionStatusDir>& connStatusDir,
    const Mica::Ptr<const SvcResolverResponseDir>& svcRespDir,
    const Mica::Ptr<const DefaultRoutePresentForVniLane>& defaultRouteDir,
    const Mica::Ptr<IeExitOptionDir>& exitOptionDir, const SmControl& kivaControl);

}  // namespace OrbInternetExit
