#include "Orb/OrbInternetExitStatusSm/IeExitOptionStatusSm.h"

#include "Orb/OrbInternetExitUtil/GateHelpers.h"
#include "Orb/OrbInternetExitUtil/ValidInterface.h"
#include "platform/module/Module.h"
#include "runtime/InputSm.h"
#include "runtime/Operators.h"
#include "runtime/Path.h"
#include "runtime/ReadyOutput.h"
#include "runtime/internal/LevelSm.h"

namespace OrbInternetExit {

using Flo::kLevelFilter;
using Flo::kLevelProgress;

namespace {
// Source 0: config.statusConfig[].exitGroupStatusConfig[].exitOption[]
using StatusConfigOptionPath =
    Flo::Path<IeExitOptionStatusSm, &IeExitOptionStatusSm::eventToOptToGrpMap,
              Flo::Level<&IeStatusConfigDir::statusConfig, "ConfigSm10", "statusConfig">,
              Flo::Level<&IeStatusConfig::exitGroupStatusConfig, "StatusConfigSm11", "exitGroupStatusConfig">,
              Flo::Level<&ExitGroupStatusConfig::exitOption, "ExitGroupStatusConfigSm12", "exitOption">>;
// Source 1: defaultRouteDir.defaultRoute[]
using DefaultRoutePath =
    Flo::Path<IeExitOptionStatusSm, &IeExitOptionStatusSm::eventToDefRouteResult,
              Flo::Level<&DefaultRoutePresentForVniLane::defaultRoute, "DefaultRouteDirSm13", "defaultRoute">>;
// Source 2: connStatusDir.connection[].resultConnIntf
using ConnectionPath =
    Flo::Path<IeExitOptionStatusSm, &IeExitOptionStatusSm::eventToConnResult,
              Flo::Level<&SiConnectionStatusDir::connection, "ConnStatusDirSm14", "connection">,
              Flo::Level<&ConnectionStatus::resultConnIntf, "ConnectionSm15", "resultConnIntf">>;
// Source 3: orbcsd.l3Intf[]
using L3IntfPath =
    Flo::Path<IeExitOptionStatusSm, &IeExitOptionStatusSm::eventToOrbcsdIntf,
              Flo::Level<&Orb::OrbCommonSmData::l3Intf, "OrbcsdSm16", "l3Intf">>;
// Source 4: orbcsd.internetExitModule
using ModulePath = Flo::Path<IeExitOptionStatusSm, &IeExitOptionStatusSm::eventToEvalIeModule,
                             Flo::Level<&Orb::OrbCommonSmData::internetExitModule, "OrbcsdSm16", "internetExitModule">>;
// Source 5: svcRespDir.resolverResponse[]
using ResponsePath =
    Flo::Path<IeExitOptionStatusSm, &IeExitOptionStatusSm::eventToSvcReslvResp,
              Flo::Level<&SvcResolverResponseDir::resolverResponse, "SvcRespDirSm17", "resolverResponse">>;

constexpr Flo::Into kIntoGroup{"into( exitOptionDir.exitOptionStatus[ exitOptKey ].group[ egKey ] )"};
constexpr Flo::Into kIntoResult{"into( exitOptionStatus.resultExitIntf )"};
constexpr Flo::Into kIntoTemp{"into( temp )"};
constexpr const char* kForeachOptions = " foreach( exitOptionDir.exitOptionStatus ) flattening {} elements";

ExitIntfResult resultWithoutInterface(uint32_t gateId, uint32_t auxId, ExitResultType type) {
  return ExitIntfResult(Wire::IntfId(), ExitIntfResult::defaultVrfName(), gateId, auxId, type);
}
}  // namespace

IeExitOptionStatusSm::IeExitOptionStatusSm(const Mica::Ptr<const IeStatusConfigDir>& config,
                                           const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd,
                                           const Mica::Ptr<const SiConnectionStatusDir>& connStatusDir,
                                           const Mica::Ptr<const SvcResolverResponseDir>& svcRespDir,
                                           const Mica::Ptr<const DefaultRoutePresentForVniLane>& defaultRouteDir,
                                           const Mica::Ptr<IeExitOptionDir>& exitOptionDir,
                                           const SmControl& kivaControl)
    : StateMachine("OrbInternetExit", "IeExitOptionStatusSm", kivaControl),
      config_(config),
      orbcsd_(orbcsd),
      connStatusDir_(connStatusDir),
      svcRespDir_(svcRespDir),
      defaultRouteDir_(defaultRouteDir),
      exitOptionDir_(exitOptionDir),
      localAttrStore_(new LocalStore()) {
  argIs("config()", config_.get());
  argIs("orbcsd()", orbcsd_.get());
  argIs("connStatusDir()", connStatusDir_.get());
  argIs("svcRespDir()", svcRespDir_.get());
  argIs("defaultRouteDir()", defaultRouteDir_.get());
  argIs("exitOptionDir()", exitOptionDir_.get());
  startedOverOutput_ = exitOptionDir_ && !exitOptionDir_->exitOptionStatus.empty();

  const size_t optToGrpMap = pipelineIs("optToGrpMap");
  const size_t defRouteResult = pipelineIs("defRouteResult");
  const size_t connResult = pipelineIs("connResult");
  const size_t orbcsdIntf = pipelineIs("orbcsdIntf");
  const size_t evalIeModule = pipelineIs("evalIeModule");
  const size_t svcReslvResp = pipelineIs("svcReslvResp");

  auto& svcRespDirSm17 = inputIs(
      std::make_unique<Flo::InputArgSm<SvcResolverResponseDir>>(*this, "SvcRespDirSm17", svcRespDir_));
  auto& orbcsdSm16 =
      inputIs(std::make_unique<Flo::InputArgSm<Orb::OrbCommonSmData>>(*this, "OrbcsdSm16", orbcsd_));
  auto& connStatusDirSm14 = inputIs(
      std::make_unique<Flo::InputArgSm<SiConnectionStatusDir>>(*this, "ConnStatusDirSm14", connStatusDir_));
  auto& defaultRouteDirSm13 = inputIs(std::make_unique<Flo::InputArgSm<DefaultRoutePresentForVniLane>>(
      *this, "DefaultRouteDirSm13", defaultRouteDir_));
  auto& configSm10 = inputIs(std::make_unique<Flo::InputArgSm<IeStatusConfigDir>>(*this, "ConfigSm10", config_));
  configSm10.sourceIs<Flo::internal::TopLevel<StatusConfigOptionPath>>(0, optToGrpMap);
  defaultRouteDirSm13.sourceIs<Flo::internal::TopLevel<DefaultRoutePath>>(1, defRouteResult);
  connStatusDirSm14.sourceIs<Flo::internal::TopLevel<ConnectionPath>>(2, connResult);
  orbcsdSm16.sourceIs<Flo::internal::TopLevel<L3IntfPath>>(3, orbcsdIntf);
  orbcsdSm16.sourceIs<Flo::internal::TopLevel<ModulePath>>(4, evalIeModule);
  svcRespDirSm17.sourceIs<Flo::internal::TopLevel<ResponsePath>>(5, svcReslvResp);

  groupOutput_ = &outputIs(std::make_unique<Flo::TopOutput<GroupSpec>>(
      *this, "exitOptionDirExitOptionStatusGroupOutput", std::vector<size_t>{optToGrpMap}, exitOptionDir_));
  outputIs(std::make_unique<Flo::ReadyOutput>(
      *this, "orbInternetExitExitOptionStatusPtrResultExitIntfOutput",
      std::vector<size_t>{optToGrpMap, defRouteResult, connResult, orbcsdIntf, evalIeModule, svcReslvResp}));
  outputIs(std::make_unique<Flo::ReadyOutput>(*this, "tempOutput", std::vector<size_t>{optToGrpMap}));
}

// optToGrpMap = from( config.statusConfig[].exitGroupStatusConfig[].exitOption[] )
//   -> [ give the gate back on the last removal ] -> into( group[ egKey ] )
//   -> updAnonymousResult, updLocalExitResult, updRemoteExitResult
void IeExitOptionStatusSm::eventToOptToGrpMap(VniAndLaneId, const GroupVniLaneKey& egKey,
                                              const ExitVniLaneKey& exitOptKey,
                                              const Quill::Optional<Quill::Unit>& isAddOpt) {
  if (!initialScanDone()) return;
  const bool isAdd = isAddOpt.has_value();
  Flo::from(*this,
            "optToGrpMap = from( config.statusConfig[].exitGroupStatusConfig[].exitOption[] ): egKey={} exitOptKey={} isAdd={}",
            egKey, exitOptKey, isAdd);
  Flo::note(*this, "optToGrpMap : exit-option {} updated in exit-group {}", exitOptKey, egKey);
  if (!isAdd) {
    const ExitOptionStatus* status = exitOptionDir_->exitOptionStatus.lookup(exitOptKey);
    if (status && status->group.size() == 1) {
      const ExitIntfResult& result = status->resultExitIntf.get();
      if (result.resultType != ExitResultType::noResult() && result.intfId.valid()) {
        Flo::note(*this, "optToGrpMap: removing gate for {} from exitoption {}", result.intfId, exitOptKey);
        const bool removed = removeGateId(orbcsd_, result.intfId);
        kIntoTemp.insertingValue(*this, removed);
        localAttrStore_->set<Temp>(removed);
      }
    }
  }
  intoGroup(exitOptKey, egKey, isAdd);
  eventToUpdAnonymousResult(exitOptKey);
  eventToUpdLocalExitResult(exitOptKey, {});
  eventToUpdRemoteExitResult(exitOptKey);
}

// defRouteResult = from( defaultRouteDir.defaultRoute[] ) -> updAnonymousResult
void IeExitOptionStatusSm::eventToDefRouteResult(VniAndLaneId vniLane, const Quill::Optional<Quill::Unit>&) {
  if (!initialScanDone()) return;
  Flo::from(*this, "defRouteResult = from( defaultRouteDir.defaultRoute[] ): vniLane={}", vniLane);
  eventToUpdAnonymousResult(ExitVniLaneKey(ExitKey(Mica::String(), ExitType::fibDefault()), vniLane));
}

// connResult = from( connStatusDir.connection[].resultConnIntf )
//   -> updLocalExitResult( every option of the connection's name, the previous interface )
void IeExitOptionStatusSm::eventToConnResult(const Mica::String& connName,
                                             const Quill::Optional<ResultConnIntf>& oldResultOpt,
                                             const Quill::Optional<ResultConnIntf>& unused) {
  if (!initialScanDone()) return;
  Flo::from(*this, "connResult = from( connStatusDir.connection[].resultConnIntf ): connName={} oldResultOpt={} unused={}",
            connName, oldResultOpt, unused);
  Flo::note(*this, "Service Connection result updated for {}", connName);
  Quill::Optional<Wire::IntfId> remIntfOpt;
  if (oldResultOpt) remIntfOpt = oldResultOpt->intfId;
  eventToUpdLocalExitResult(ExitVniLaneKey(ExitKey(connName, ExitType::localExit()), VniAndLaneId()), remIntfOpt);
}

// orbcsdIntf = from( orbcsd.l3Intf[] )
//   -> foreach( exitOptionStatus ) -> filter( result uses the interface ) -> updLocalExitResult
void IeExitOptionStatusSm::eventToOrbcsdIntf(const Wire::IntfId& intfId,
                                             const Quill::Optional<Mica::Ptr<const Orb::L3Intf>>& entryOpt) {
  if (!initialScanDone()) return;
  const bool isAdd = entryOpt.has_value();
  Flo::from(*this, "orbcsdIntf = from( orbcsd.l3Intf[] ): intfId={} isAdd={}", intfId, isAdd);
  Flo::note(*this, "Interface {} updated in orbcsd.l3Intf", intfId);
  const Quill::Optional<Wire::IntfId> remIntfOpt = isAdd ? Quill::Optional<Wire::IntfId>() : intfId;
  forEachOptionUsing(intfId, remIntfOpt.has_value(),
                     [&](const ExitVniLaneKey& key) { eventToUpdLocalExitResult(key, remIntfOpt); });
}

// evalIeModule = from( orbcsd.internetExitModule ) -> filter( ready and module present )
//   -> foreach( exitOptionStatus ) -> updLocalExitResult, updRemoteExitResult
void IeExitOptionStatusSm::eventToEvalIeModule(const Quill::Optional<Mica::Ptr<Orb::Module>>&,
                                               const Quill::Optional<Mica::Ptr<Orb::Module>>& ieModule) {
  if (!initialScanDone()) return;
  Flo::from(*this, "evalIeModule = from( orbcsd.internetExitModule ): ieModule={}", ieModule);
  if (!Flo::filter(*this, ready() && ieModule.has_value(), "filter( ( this.ready && ieModule ) )")) return;
  Flo::note(*this, "Internet Exit Module enabled");
  Flo::foreach(*this, kForeachOptions, exitOptionDir_->exitOptionStatus,
               [&](const ExitVniLaneKey& key, const Mica::Ptr<ExitOptionStatus>&) {
                 eventToUpdLocalExitResult(key, {});
                 eventToUpdRemoteExitResult(key);
               });
}

// svcReslvResp = from( svcRespDir.resolverResponse[] ) -> updRemoteExitResult
void IeExitOptionStatusSm::eventToSvcReslvResp(const VniLaneSvcGroupName& laneVniSvcGrpName,
                                               const Quill::Optional<SvcResolverResponse>&,
                                               const Quill::Optional<SvcResolverResponse>&) {
  if (!initialScanDone()) return;
  Flo::from(*this, "svcReslvResp = from( svcRespDir.resolverResponse[] ): laneVniSvcGrpName={}", laneVniSvcGrpName);
  Flo::note(*this, "Remote service resolver response updated for {}", laneVniSvcGrpName);
  eventToUpdRemoteExitResult(ExitVniLaneKey(ExitKey(laneVniSvcGrpName.svcGroupName, ExitType::remoteExit()),
                                            laneVniSvcGrpName.vniLaneId));
}

// updLocalExitResult = merge( optToGrpMap, evalIeModule, connResult, orbcsdIntf )
//   pair given:  flo_pipeline0 -> flo_pipeline2 for that option
//   pair 0:      flo_pipeline1 -> foreach( exitOptionStatus ) -> filter( same name ) -> flo_pipeline2
void IeExitOptionStatusSm::eventToUpdLocalExitResult(const ExitVniLaneKey& inputOptKey,
                                                     const Quill::Optional<Wire::IntfId>& remIntfOpt) {
  Flo::merge(*this, "updLocalExitResult = merge( optToGrpMap, evalIeModule, connResult, orbcsdIntf ): inputOptKey={} remIntfOpt={}",
             inputOptKey, remIntfOpt);
  Flo::merge(*this, "Line 342: merge( updLocalExitResult ): inputOptKey={} remIntfOpt={}", inputOptKey, remIntfOpt);
  if (inputOptKey.vniLaneId != VniAndLaneId()) {
    eventToFlo_pipeline2(inputOptKey, remIntfOpt);
    return;
  }
  forEachLocalOptionNamed(inputOptKey.exitKey.name, remIntfOpt.has_value(),
                          [&](const ExitVniLaneKey& key) { eventToFlo_pipeline2(key, remIntfOpt); });
}

// flo_pipeline2: filter( local ) -> filter( entry exists ) -> give back the gate of remIntfOpt
//   -> candidate from the connection -> gate -> into( resultExitIntf )
void IeExitOptionStatusSm::eventToFlo_pipeline2(const ExitVniLaneKey& exitOptKey,
                                                const Quill::Optional<Wire::IntfId>& remIntfOpt) {
  Flo::merge(*this, "Line 342: merge( flo_pipeline0, flo_pipeline1 ): exitOptKey={} remIntfOpt={}", exitOptKey,
             remIntfOpt);
  if (!Flo::filter(*this, exitOptKey.exitKey.type == ExitType::localExit(),
                   "filter( ( exitOptKey.exitKey.type == ExitType::localExit() ) )")) {
    return;
  }
  const Mica::Ptr<ExitOptionStatus> status = exitOptionDir_->exitOptionStatus.get(exitOptKey);
  if (!Flo::filter(*this, status != nullptr, "filter( exitOptionDir.exitOptionStatus[ exitOptKey ] )")) return;
  Flo::note(*this, "Updating local exitOption {}", exitOptKey);

  const ExitIntfResult& current = status->resultExitIntf.get();
  if (remIntfOpt && current.resultType != ExitResultType::noResult() && current.intfId == *remIntfOpt) {
    Flo::note(*this, "updLocalExitResult: removing gate for {} from exitoption {}", *remIntfOpt, exitOptKey);
    removeGateId(orbcsd_, *remIntfOpt);
    const ExitIntfResult cleared =
        resultWithoutInterface(ExitIntfResult::noGate, ExitIntfResult::noGate, ExitResultType::noResult());
    kIntoResult.insertingValue(*this, cleared);
    intoResult(*status, cleared);
  }

  ExitIntfResult result = localCandidate(exitOptKey);
  const ExitIntfResult& held = status->resultExitIntf.get();
  if (!result.intfId.valid() || !orbcsd_->l3Intf.contains(result.intfId)) {
    result.gateId = ExitIntfResult::noGate;
  } else if (held.intfId == result.intfId && held.gateId != ExitIntfResult::noGate) {
    result.gateId = held.gateId;
  } else {
    result.gateId = createOrFetchGateId(orbcsd_, result.intfId);
  }
  if (!result.intfId.valid() || result.gateId == ExitIntfResult::noGate) {
    result.resultType = ExitResultType::noResult();
  } else if (result.vrfName == ExitIntfResult::defaultVrfName()) {
    result.resultType = ExitResultType::localDefaultVrf();
  } else {
    result.resultType = ExitResultType::localOtherVrf();
  }
  Flo::note(*this, "Updating local result {} into exitOption {}", result, exitOptKey);
  kIntoResult.insertingValue(*this, result);
  intoResult(*status, result);
}

// The connection's interface when the connection exists and its VRF may carry the pair's exits;
// otherwise no interface. The gate and type are filled in by the caller.
ExitIntfResult IeExitOptionStatusSm::localCandidate(const ExitVniLaneKey& exitOptKey) const {
  const ConnectionStatus* connection = connStatusDir_->connection.lookup(exitOptKey.exitKey.name);
  if (connection) {
    const ResultConnIntf& conn = connection->resultConnIntf.get();
    if (validInterface(orbcsd_, exitOptKey.vniLaneId, conn.vrfName)) {
      return ExitIntfResult(conn.intfId, ExitIntfResult::VrfName(conn.vrfName), ExitIntfResult::noGate, conn.num,
                            ExitResultType::noResult());
    }
  }
  return resultWithoutInterface(ExitIntfResult::noGate, ExitIntfResult::noGate, ExitResultType::noResult());
}

// updRemoteExitResult = merge( optToGrpMap, evalIeModule, svcReslvResp )
//   -> filter( remote ) -> filter( entry exists ) -> into( resultExitIntf ) from the response
void IeExitOptionStatusSm::eventToUpdRemoteExitResult(const ExitVniLaneKey& exitOptKey) {
  Flo::merge(*this, "updRemoteExitResult = merge( optToGrpMap, evalIeModule, svcReslvResp ): exitOptKey={}",
             exitOptKey);
  if (!Flo::filter(*this, exitOptKey.exitKey.type == ExitType::remoteExit(),
                   "filter( ( exitOptKey.exitKey.type == ExitType::remoteExit() ) )")) {
    return;
  }
  const Mica::Ptr<ExitOptionStatus> status = exitOptionDir_->exitOptionStatus.get(exitOptKey);
  if (!Flo::filter(*this, status != nullptr, "filter( exitOptionDir.exitOptionStatus[ exitOptKey ] )")) return;
  Flo::note(*this, "Updating remote exitOption {}", exitOptKey);
  const SvcResolverResponse* response =
      svcRespDir_->resolverResponse.lookup(VniLaneSvcGroupName(exitOptKey.exitKey.name, exitOptKey.vniLaneId));
  const ExitIntfResult result =
      response ? resultWithoutInterface(ExitIntfResult::noGate, response->remoteSvcGroup, ExitResultType::remoteResolved())
               : resultWithoutInterface(ExitIntfResult::noGate, 0, ExitResultType::noResult());
  Flo::note(*this, "Updating remote result {} into exitOption {}", result, exitOptKey);
  kIntoResult.insertingValue(*this, result);
  intoResult(*status, result);
}

// updAnonymousResult = merge( optToGrpMap, defRouteResult )
//   -> filter( fibDefault ) -> filter( entry exists ) -> into( resultExitIntf ) from the pair's default route
void IeExitOptionStatusSm::eventToUpdAnonymousResult(const ExitVniLaneKey& exitOptKey) {
  Flo::merge(*this, "updAnonymousResult = merge( optToGrpMap, defRouteResult ): exitOptKey={}", exitOptKey);
  if (!Flo::filter(*this, exitOptKey.exitKey.type == ExitType::fibDefault(),
                   "filter( ( exitOptKey.exitKey.type == ExitType::fibDefault() ) )")) {
    return;
  }
  const Mica::Ptr<ExitOptionStatus> status = exitOptionDir_->exitOptionStatus.get(exitOptKey);
  if (!Flo::filter(*this, status != nullptr, "filter( exitOptionDir.exitOptionStatus[ exitOptKey ] )")) return;
  const ExitIntfResult result =
      defaultRouteDir_->defaultRoute.contains(exitOptKey.vniLaneId)
          ? resultWithoutInterface(0, ExitIntfResult::noGate, ExitResultType::fibDefaultRoute())
          : resultWithoutInterface(ExitIntfResult::noGate, ExitIntfResult::noGate, ExitResultType::noResult());
  Flo::note(*this, "Updating anonymous exitOption {} with result {}", exitOptKey, result.resultType);
  kIntoResult.insertingValue(*this, result);
  intoResult(*status, result);
}

void IeExitOptionStatusSm::intoResult(ExitOptionStatus& status, const ExitIntfResult& result) {
  // Inserted on every write, not only on a change: an entry of an earlier run is indexed when
  // this run first writes it.
  const Wire::IntfId& before = status.resultExitIntf.get().intfId;
  if (before != result.intfId && before.valid()) byIntf_.erase({before, status.key()});
  if (result.intfId.valid()) byIntf_.insert({result.intfId, status.key()});
  workDone(1);
  status.resultExitIntfIs(result);
}

void IeExitOptionStatusSm::intoGroup(const ExitVniLaneKey& exitOptKey, const GroupVniLaneKey& egKey, bool isAdd) {
  const bool local = exitOptKey.exitKey.type == ExitType::localExit();
  if (isAdd) {
    groupOutput_->seen(GroupKey(exitOptKey, egKey));
    const Mica::Ptr<ExitOptionStatus> status = exitOptionDir_->exitOptionStatusIs(exitOptKey);
    if (local) localByName_.insert({exitOptKey.exitKey.name, exitOptKey.vniLaneId});
    kIntoGroup.inserting(*this, exitOptKey, egKey);
    status->groupIs(egKey);
    return;
  }
  const Mica::Ptr<ExitOptionStatus> status = exitOptionDir_->exitOptionStatus.get(exitOptKey);
  if (!status) return;
  groupOutput_->seen(GroupKey(exitOptKey, egKey));
  kIntoGroup.deleting(*this, exitOptKey, egKey);
  status->groupDel(egKey);
  if (!status->group.empty()) return;
  if (local) localByName_.erase({exitOptKey.exitKey.name, exitOptKey.vniLaneId});
  if (const Wire::IntfId& intf = status->resultExitIntf.get().intfId; intf.valid()) byIntf_.erase({intf, exitOptKey});
  exitOptionDir_->exitOptionStatusDel(exitOptKey);
}

bool IeExitOptionStatusSm::fullWalk(bool givesBack) const {
  if (tracer().enabled(kLevelFilter) || tracer().enabled(kLevelProgress)) return true;
  // Entries of an earlier run that this run has not written yet are missing from the indexes.
  // An event that evaluates them without giving a gate back may skip them: each is evaluated by
  // its own second pass of optToGrpMap (or deleted by reconciliation) before the output is
  // ready. A give-back must reach them now, or their gates would be held for good.
  return givesBack && startedOverOutput_ && !groupOutput_->ready();
}

template <class Fn>
void IeExitOptionStatusSm::forEachOptionUsing(const Wire::IntfId& intfId, bool givesBack, Fn&& fn) {
  const auto& options = exitOptionDir_->exitOptionStatus;
  if (fullWalk(givesBack)) {
    Flo::foreach(*this, kForeachOptions, options, [&](const ExitVniLaneKey& key, const Mica::Ptr<ExitOptionStatus>& s) {
      if (!Flo::filter(*this, s->resultExitIntf.get().intfId == intfId,
                       "filter( ( exitOptionStatus.resultExitIntf.intfId == intfId ) )")) {
        return;
      }
      fn(key);
    });
    return;
  }
  trace(kLevelFilter, kForeachOptions, options.size());
  // Copied first: the evaluations below move options off the interface, which edits the index.
  std::vector<ExitVniLaneKey> using_;
  for (auto it = byIntf_.lower_bound({intfId, ExitVniLaneKey()}); it != byIntf_.end() && it->first == intfId; ++it) {
    using_.push_back(it->second);
  }
  workDone(using_.size());
  for (const ExitVniLaneKey& key : using_) {
    const ExitOptionStatus* status = options.lookup(key);
    if (status && status->resultExitIntf.get().intfId == intfId) fn(key);
  }
}

template <class Fn>
void IeExitOptionStatusSm::forEachLocalOptionNamed(const Mica::String& name, bool givesBack, Fn&& fn) {
  const auto& options = exitOptionDir_->exitOptionStatus;
  if (fullWalk(givesBack)) {
    Flo::foreach(*this, kForeachOptions, options, [&](const ExitVniLaneKey& key, const Mica::Ptr<ExitOptionStatus>&) {
      if (!Flo::filter(*this, key.exitKey.name == name,
                       "filter( ( allOptKey.exitKey.name == inputOptKey.exitKey.name ) )")) {
        return;
      }
      fn(key);
    });
    return;
  }
  trace(kLevelFilter, kForeachOptions, options.size());
  std::vector<VniAndLaneId> pairs;
  for (auto it = localByName_.lower_bound({name, VniAndLaneId()}); it != localByName_.end() && it->first == name;
       ++it) {
    pairs.push_back(it->second);
  }
  workDone(pairs.size());
  for (VniAndLaneId pair : pairs) {
    const ExitVniLaneKey key(ExitKey(name, ExitType::localExit()), pair);
    if (options.contains(key)) fn(key);
  }
}

Mica::Ptr<IeExitOptionStatusSm> ieExitOptionStatusSmFactory(
    const Mica::Ptr<const IeStatusConfigDir>& config, const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd,
    const Mica::Ptr<const SiConnectionStatusDir>& connStatusDir,
    const Mica::Ptr<const SvcResolverResponseDir>& svcRespDir,
    const Mica::Ptr<const DefaultRoutePresentForVniLane>& defaultRouteDir,
    const Mica::Ptr<IeExitOptionDir>& exitOptionDir, const SmControl& kivaControl) {
  Mica::Ptr<IeExitOptionStatusSm> sm(
      new IeExitOptionStatusSm(config, orbcsd, connStatusDir, svcRespDir, defaultRouteDir, exitOptionDir, kivaControl));
  sm->handleInitialized();
  return sm;
}

}  // namespace OrbInternetExit
