// IeExitGroupStatusSm: per exit group of a (VNI, lane) pair, the results of its usable options.
//
// Inputs (source: path, input SMs), input SMs created in the order 22, 19:
//   0  config.statusConfig[].exitGroupStatusConfig[].exitOption[]
//                         ConfigSm19 > StatusConfigSm20 > ExitGroupStatusConfigSm21   updExitOptInGrp
//   1  exitOptionDir.exitOptionStatus[].group[]
//                         ExitOptionDirSm22 > ExitOptionStatusSm23                     updOptToGrpMap
//   2  exitOptionDir.exitOptionStatus[].resultExitIntf
//                         ExitOptionDirSm22 > ExitOptionStatusSm23                     updExitOptResult
//
//   updExitOptInGrp ─────────────────────────────────────┐
//   updOptToGrpMap ──────────────────────────────────────┼─> evalGroupResult(group, option)
//   updExitOptResult ─> foreach( the option's groups ) ──┘     -> into( result[ option ] )
//
// Output: exitGroupDir.exitGroupStatus[ groupKey ].result[ exitOptKey ]   (reconciled at start)
//
// Invariant once ready (G a group of pair v, O an option key):
//   exitGroupStatus[G].result[O] exists exactly when statusConfig[v].exitGroupStatusConfig[G]
//   lists O, exitOptionStatus[O].group holds G and exitOptionStatus[O].resultExitIntf is usable
//   (its type is not noResult); its value is then that result. A group's entry exists exactly
//   while its result map is non-empty.
// Every event re-derives the whole rule for the (group, option) pairs it touches, so the order
// in which the inputs change does not matter. For the same reason, with traces off, a start over
// an earlier run's output that no input change has interrupted evaluates each (group, option)
// once, not once per source (evaluatedOverSameInputs). A usable result that changes is overwritten in
// place: readers never see the option leave the group in between.
#pragma once

#include <utility>

#include "runtime/Output.h"
#include "runtime/StateMachine.h"
#include "types/IeExitGroupDir.h"
#include "types/IeExitOptionDir.h"
#include "types/IeStatusConfigDir.h"

namespace OrbInternetExit {

using Flo::SmControl;

class IeExitGroupStatusSm final : public Flo::StateMachine {
 public:
  IeExitGroupStatusSm(const Mica::Ptr<const IeStatusConfigDir>& config,
                      const Mica::Ptr<const IeExitOptionDir>& exitOptionDir,
                      const Mica::Ptr<IeExitGroupDir>& exitGroupDir, const SmControl& kivaControl);

  const Mica::Ptr<const IeStatusConfigDir>& config() const noexcept { return config_; }
  const Mica::Ptr<const IeExitOptionDir>& exitOptionDir() const noexcept { return exitOptionDir_; }
  const Mica::Ptr<IeExitGroupDir>& exitGroupDir() const noexcept { return exitGroupDir_; }

  // The source pipelines, in source-number order.
  void eventToUpdExitOptInGrp(VniAndLaneId vniLaneId, const GroupVniLaneKey& groupKey,
                              const ExitVniLaneKey& exitOptKey, const Quill::Optional<Quill::Unit>& isAddOpt);
  void eventToUpdOptToGrpMap(const ExitVniLaneKey& exitOptKey, const GroupVniLaneKey& groupKey,
                             const Quill::Optional<Quill::Unit>& isAddOpt);
  void eventToUpdExitOptResult(const ExitVniLaneKey& exitOptKey, const Quill::Optional<ExitIntfResult>& oldResultOpt,
                               const Quill::Optional<ExitIntfResult>& result);

  // The merge: re-derives whether the option counts in the group, and writes that.
  void eventToEvalGroupResult(const GroupVniLaneKey& groupKey, const ExitVniLaneKey& exitOptKey);

  // The output's key: (group, option).
  using ResultKey = std::pair<GroupVniLaneKey, ExitVniLaneKey>;

 private:
  // Removes the result, and the group's entry with its last result.
  struct ResultSpec : Flo::TwoLevelOutputSpec<IeExitGroupDir, &IeExitGroupDir::exitGroupStatus, &ExitGroupStatus::result,
                                              &IeExitGroupDir::exitGroupStatusDel, &ExitGroupStatus::resultDel> {};

  // Whether (group, option) was evaluated in this start over the inputs as they are now, with
  // traces off: evaluating it again would write nothing, and evalGroupResult returns at once. A
  // start over an earlier run's output reaches each pair from all three sources; every
  // evaluation records its key as seen, and no input has changed since the start.
  bool evaluatedOverSameInputs(const GroupVniLaneKey& groupKey, const ExitVniLaneKey& exitOptKey) const;
  // The option's result when it counts in the group ("Up(Add)"), else none ("Down(Remove)").
  Quill::Optional<ExitIntfResult> usableResult(const GroupVniLaneKey& groupKey, const ExitVniLaneKey& exitOptKey) const;

  Mica::Ptr<const IeStatusConfigDir> config_;
  Mica::Ptr<const IeExitOptionDir> exitOptionDir_;
  Mica::Ptr<IeExitGroupDir> exitGroupDir_;
  Flo::TopOutput<ResultSpec>* resultOutput_;
};

Mica::Ptr<IeExitGroupStatusSm> ieExitGroupStatusSmFactory(const Mica::Ptr<const IeStatusConfigDir>& config,
                                                          const Mica::Ptr<const IeExitOptionDir>& exitOptionDir,
                                                          const Mica::Ptr<IeExitGroupDir>& exitGroupDir,
                                                          const SmControl& kivaControl);

}  // namespace OrbInternetExit
