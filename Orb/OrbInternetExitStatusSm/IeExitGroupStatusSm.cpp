#include "Orb/OrbInternetExitStatusSm/IeExitGroupStatusSm.h"

#include "runtime/InputSm.h"
#include "runtime/Operators.h"
#include "runtime/Path.h"
#include "runtime/internal/LevelSm.h"

namespace OrbInternetExit {

namespace {
// Source 0: config.statusConfig[].exitGroupStatusConfig[].exitOption[]
using OptionInGroupPath =
    Flo::Path<IeExitGroupStatusSm, &IeExitGroupStatusSm::eventToUpdExitOptInGrp,
              Flo::Level<&IeStatusConfigDir::statusConfig, "ConfigSm19", "statusConfig">,
              Flo::Level<&IeStatusConfig::exitGroupStatusConfig, "StatusConfigSm20", "exitGroupStatusConfig">,
              Flo::Level<&ExitGroupStatusConfig::exitOption, "ExitGroupStatusConfigSm21", "exitOption">>;
// Source 1: exitOptionDir.exitOptionStatus[].group[]
using GroupPath =
    Flo::Path<IeExitGroupStatusSm, &IeExitGroupStatusSm::eventToUpdOptToGrpMap,
              Flo::Level<&IeExitOptionDir::exitOptionStatus, "ExitOptionDirSm22", "exitOptionStatus">,
              Flo::Level<&ExitOptionStatus::group, "ExitOptionStatusSm23", "group">>;
// Source 2: exitOptionDir.exitOptionStatus[].resultExitIntf
using ResultPath =
    Flo::Path<IeExitGroupStatusSm, &IeExitGroupStatusSm::eventToUpdExitOptResult,
              Flo::Level<&IeExitOptionDir::exitOptionStatus, "ExitOptionDirSm22", "exitOptionStatus">,
              Flo::Level<&ExitOptionStatus::resultExitIntf, "ExitOptionStatusSm23", "resultExitIntf">>;

constexpr Flo::Into kIntoResult{"into( exitGroupDir.exitGroupStatus[ groupKey ].result[ exitOptKey ] )"};
}  // namespace

IeExitGroupStatusSm::IeExitGroupStatusSm(const Mica::Ptr<const IeStatusConfigDir>& config,
                                         const Mica::Ptr<const IeExitOptionDir>& exitOptionDir,
                                         const Mica::Ptr<IeExitGroupDir>& exitGroupDir, const SmControl& kivaControl)
    : StateMachine("OrbInternetExit", "IeExitGroupStatusSm", kivaControl),
      config_(config),
      exitOptionDir_(exitOptionDir),
      exitGroupDir_(exitGroupDir) {
  argIs("config()", config_.get());
  argIs("exitOptionDir()", exitOptionDir_.get());
  argIs("exitGroupDir()", exitGroupDir_.get());

  const size_t updExitOptInGrp = pipelineIs("updExitOptInGrp");
  const size_t updOptToGrpMap = pipelineIs("updOptToGrpMap");
  const size_t updExitOptResult = pipelineIs("updExitOptResult");

  // The option statuses are followed before the configuration: one input argument, scanned
  // once for the group sets and once for the results.
  auto& exitOptionDirSm22 = inputIs(
      std::make_unique<Flo::InputArgSm<IeExitOptionDir>>(*this, "ExitOptionDirSm22", exitOptionDir_));
  auto& configSm19 = inputIs(std::make_unique<Flo::InputArgSm<IeStatusConfigDir>>(*this, "ConfigSm19", config_));
  configSm19.sourceIs<Flo::internal::TopLevel<OptionInGroupPath>>(0, updExitOptInGrp);
  exitOptionDirSm22.sourceIs<Flo::internal::TopLevel<GroupPath>>(1, updOptToGrpMap);
  exitOptionDirSm22.sourceIs<Flo::internal::TopLevel<ResultPath>>(2, updExitOptResult);

  resultOutput_ = &outputIs(std::make_unique<Flo::TopOutput<ResultSpec>>(
      *this, "exitGroupDirExitGroupStatusResultOutput",
      std::vector<size_t>{updExitOptInGrp, updOptToGrpMap, updExitOptResult}, exitGroupDir_));
}

// updExitOptInGrp = from( config.statusConfig[].exitGroupStatusConfig[].exitOption[] )
//   -> evalGroupResult( groupKey, exitOptKey ), added or removed alike
void IeExitGroupStatusSm::eventToUpdExitOptInGrp(VniAndLaneId, const GroupVniLaneKey& groupKey,
                                                 const ExitVniLaneKey& exitOptKey,
                                                 const Quill::Optional<Quill::Unit>&) {
  if (!initialScanDone()) return;
  Flo::from(*this,
            "updExitOptInGrp = from( config.statusConfig[].exitGroupStatusConfig[].exitOption[] ): groupKey={} exitOptKey={}",
            groupKey, exitOptKey);
  Flo::note(*this, "exitOpt {} updated in exitGroup {}", exitOptKey, groupKey);
  eventToEvalGroupResult(groupKey, exitOptKey);
}

// updOptToGrpMap = from( exitOptionDir.exitOptionStatus[].group[] )
//   -> evalGroupResult( groupKey, exitOptKey ), added or removed alike
void IeExitGroupStatusSm::eventToUpdOptToGrpMap(const ExitVniLaneKey& exitOptKey, const GroupVniLaneKey& groupKey,
                                                const Quill::Optional<Quill::Unit>&) {
  if (!initialScanDone()) return;
  Flo::from(*this, "updOptToGrpMap = from( exitOptionDir.exitOptionStatus[].group[] ): exitOptKey={} groupKey={}",
            exitOptKey, groupKey);
  Flo::note(*this, "exitGroup {} updated in exitOptToGroup for exitOpt {}", groupKey, exitOptKey);
  eventToEvalGroupResult(groupKey, exitOptKey);
}

// updExitOptResult = from( exitOptionDir.exitOptionStatus[].resultExitIntf )
//   -> filter( the option's status exists ) -> foreach( its groups ) -> evalGroupResult
// An option whose status went away is handled by updOptToGrpMap, which sees each of its groups go.
void IeExitGroupStatusSm::eventToUpdExitOptResult(const ExitVniLaneKey& exitOptKey,
                                                  const Quill::Optional<ExitIntfResult>&,
                                                  const Quill::Optional<ExitIntfResult>& result) {
  if (!initialScanDone()) return;
  Flo::from(*this, "updExitOptResult = from( exitOptionDir.exitOptionStatus[].resultExitIntf ): exitOptKey={} result={}",
            exitOptKey, result);
  const Mica::Ptr<ExitOptionStatus> status = exitOptionDir_->exitOptionStatus.get(exitOptKey);
  if (!Flo::filter(*this, status != nullptr, "filter( exitOptionDir.exitOptionStatus[ exitOptKey ] )")) return;
  Flo::note(*this, "result {} updated in exitOption {}, populate it in groups", result, exitOptKey);
  Flo::foreach(*this, " foreach( ( *exitOptionDir.exitOptionStatus[ exitOptKey ] ).group ) flattening {} elements",
               status->group, [&](const GroupVniLaneKey& groupKey) { eventToEvalGroupResult(groupKey, exitOptKey); });
}

// evalGroupResult = merge( updExitOptInGrp, updOptToGrpMap, updExitOptResult )
//   -> "Up(Add)": into( result[ exitOptKey ] ) overwriting in place; "Down(Remove)": delete it
void IeExitGroupStatusSm::eventToEvalGroupResult(const GroupVniLaneKey& groupKey, const ExitVniLaneKey& exitOptKey) {
  if (!initialScanDone() || evaluatedOverSameInputs(groupKey, exitOptKey)) return;
  Flo::merge(*this,
             "evalGroupResult = merge( updExitOptInGrp, updOptToGrpMap, updExitOptResult ): groupKey={} exitOptKey={}",
             groupKey, exitOptKey);
  const Quill::Optional<ExitIntfResult> value = usableResult(groupKey, exitOptKey);
  Flo::note(*this, "exitOpt {} health updated to {} with result {}", exitOptKey,
            value ? "Up(Add)" : "Down(Remove)", value);
  // A deletion counts as seen too: the key is gone, so the deletion pass never meets it.
  resultOutput_->seen(ResultKey(groupKey, exitOptKey));
  if (value) {
    kIntoResult.insertingValue(*this, groupKey, exitOptKey, *value);
    exitGroupDir_->exitGroupStatusIs(groupKey)->resultIs(exitOptKey, *value);
    return;
  }
  if (!exitGroupDir_->exitGroupStatus.contains(groupKey)) return;
  kIntoResult.deleting(*this, groupKey, exitOptKey);
  ResultSpec::erase(*exitGroupDir_, ResultKey(groupKey, exitOptKey));
}

bool IeExitGroupStatusSm::evaluatedOverSameInputs(const GroupVniLaneKey& groupKey,
                                                  const ExitVniLaneKey& exitOptKey) const {
  return quietStart() && resultOutput_->seenInThisStart(ResultKey(groupKey, exitOptKey));
}

Quill::Optional<ExitIntfResult> IeExitGroupStatusSm::usableResult(const GroupVniLaneKey& groupKey,
                                                                  const ExitVniLaneKey& exitOptKey) const {
  const IeStatusConfig* statusConfig = config_->statusConfig.lookup(groupKey.vniLaneId);
  const ExitGroupStatusConfig* groupConfig =
      statusConfig ? statusConfig->exitGroupStatusConfig.lookup(groupKey) : nullptr;
  if (!groupConfig || !groupConfig->exitOption.contains(exitOptKey)) return {};
  const ExitOptionStatus* status = exitOptionDir_->exitOptionStatus.lookup(exitOptKey);
  if (!status || !status->group.contains(groupKey)) return {};
  const ExitIntfResult& result = status->resultExitIntf.get();
  if (result.resultType == ExitResultType::noResult()) return {};
  return result;
}

Mica::Ptr<IeExitGroupStatusSm> ieExitGroupStatusSmFactory(const Mica::Ptr<const IeStatusConfigDir>& config,
                                                          const Mica::Ptr<const IeExitOptionDir>& exitOptionDir,
                                                          const Mica::Ptr<IeExitGroupDir>& exitGroupDir,
                                                          const SmControl& kivaControl) {
  Mica::Ptr<IeExitGroupStatusSm> sm(new IeExitGroupStatusSm(config, exitOptionDir, exitGroupDir, kivaControl));
  sm->handleInitialized();
  return sm;
}

}  // namespace OrbInternetExit
