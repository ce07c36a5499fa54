// The simulated agent: the entities a scenario drives, the scheduler, the state machines, the
// engine with its InternetExit module, and logs of what happened to the outputs and which tasks
// ran.
//
//   state machine                 reads                        writes
//   IePolicyToVniLaneSm           lanes                        polToVniLane
//   IeStatusConfigSm              config, polToVniLane         statusConfig
//   IeGroupToPolicySm             statusConfig                 groupToPolicy
//   VniDefaultRouteTrackerSm      orbcsd                       vniDefRoute
//   VniLaneDefaultRouteTrackerSm  vniDefRoute, polToVniLane    vniLaneDefRoute
//   IeExitOptionStatusSm          statusConfig, orbcsd,        exitOption (and gates of the
//                                 connections, responses,      module's gate manager)
//                                 vniLaneDefRoute
//   IeRemoteSvcResolverRequestSm  exitOption                   resolverRequest
//   (orbcsd.internetExitModule)   exit-info commands           queued for its DataPathModel
//
// The World owns every input and output entity (kept across restarts) and a fresh scheduler
// that it also installs as the root scheduler. It watches each output (Watch.h) and the
// scheduler (Keel::TaskRunObserver), so that each step can report the changes and task runs it
// caused; the runner reads and clears the logs once per step.
#pragma once

#include <absl/container/btree_map.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Orb/OrbInternetExitStatusSm/IeExitOptionStatusSm.h"
#include "Orb/OrbInternetExitStatusSm/IeGroupToPolicySm.h"
#include "Orb/OrbInternetExitStatusSm/IeRemoteSvcResolverRequestSm.h"
#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"
#include "Orb/OrbInternetExitStatusSm/IeStatusConfigSm.h"
#include "Orb/OrbSiEdgeHelper.h"
#include "platform/agents/LaneStatusDir.h"
#include "platform/agents/SiConnectionStatusDir.h"
#include "platform/agents/SvcResolverDirs.h"
#include "platform/engine/OrbCommonSmData.h"
#include "platform/keel/Task.h"
#include "tools/iesim/DataPath.h"
#include "tools/iesim/Watch.h"
#include "types/IeExitOptionDir.h"
#include "types/IeGroupToPolicyDir.h"
#include "types/IePolicyToVniLaneDir.h"
#include "types/IeStatusConfigDir.h"
#include "types/InternetExitCliConfig.h"

namespace IeSim {

class ChromeTrace;

// The runs of one task during a step.
struct TaskRuns {
  std::string task;
  uint64_t firstStartNanos = 0;
  uint64_t runs = 0;
  uint64_t work = 0;
};

// The changes of one output during a step, "<op> <text>" each, and the number of changes
// beyond those lines (counted, not kept).
struct OutputChanges {
  std::string output;
  std::vector<std::string> lines;
  size_t more = 0;
};

class World final : private Keel::TaskRunObserver {
 public:
  // `defaultYield`: the yield policy text of runs that name none ("" for the scheduler's own
  // default); it must parse. `chrome` (may be null) receives every task run.
  World(std::string defaultYield, ChromeTrace* chrome);
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // Inputs.
  Lane::LaneStatusDir& lanes() noexcept { return *lanes_; }
  OrbInternetExit::InternetExitCliConfig& config() noexcept { return *config_; }
  Orb::OrbCommonSmData& orbcsd() noexcept { return *orbcsd_; }
  const Mica::Ptr<Orb::OrbCommonSmData>& orbcsdPtr() const noexcept { return orbcsd_; }
  // The current VXLAN bindings object, created when there is none.
  Orb::VxlanInfo& vxlanInfo();
  // The names the scenario gave its VRFs, by id (VxlanInfo keeps the two maps apart).
  absl::btree_map<Kiln::VrfId, std::string>& vrfNames() noexcept { return vrfNames_; }
  DataPath& dataPath() noexcept { return dataPath_; }
  SiConnectionStatusDir& connections() noexcept { return *connStatusDir_; }
  SvcResolverResponseDir& responses() noexcept { return *svcRespDir_; }

  // Outputs.
  OrbInternetExit::IePolicyToVniLaneDir& output() noexcept { return *output_; }
  OrbInternetExit::IeStatusConfigDir& statusConfig() noexcept { return *statusConfig_; }
  OrbInternetExit::IeGroupToPolicyDir& groupToPolicy() noexcept { return *groupToPolicy_; }
  OrbInternetExit::IeExitOptionDir& exitOptions() noexcept { return *exitOptionDir_; }
  SvcResolverRequestDir& requests() noexcept { return *svcReqDir_; }
  const OrbL3Unicast::DefaultRoutePresentInVni& vniDefRoute() const noexcept { return *vniDefRoute_; }
  const OrbL3Unicast::DefaultRoutePresentForVniLane& vniLaneDefRoute() const noexcept {
    return *vniLaneDefRoute_;
  }
  const Lane::LaneStatusDir& lanes() const noexcept { return *lanes_; }
  const OrbInternetExit::IePolicyToVniLaneDir& output() const noexcept { return *output_; }
  const OrbInternetExit::IeStatusConfigDir& statusConfig() const noexcept { return *statusConfig_; }
  const OrbInternetExit::IeGroupToPolicyDir& groupToPolicy() const noexcept { return *groupToPolicy_; }
  const OrbInternetExit::IeExitOptionDir& exitOptions() const noexcept { return *exitOptionDir_; }
  const SvcResolverRequestDir& requests() const noexcept { return *svcReqDir_; }
  const SiConnectionStatusDir& connections() const noexcept { return *connStatusDir_; }
  const SvcResolverResponseDir& responses() const noexcept { return *svcRespDir_; }
  const Orb::OrbCommonSmData& orbcsd() const noexcept { return *orbcsd_; }
  const DataPath& dataPath() const noexcept { return dataPath_; }
  const absl::btree_map<Kiln::VrfId, std::string>& vrfNames() const noexcept { return vrfNames_; }
  Keel::TaskScheduler& scheduler() noexcept { return *scheduler_; }

  // Destroys the state machines, if any (outputs stay; the trackers empty theirs), and creates
  // new ones in data-flow order.
  void startSms(bool synchronous);
  // Destroys the state machines, last created first.
  void stopSms();
  bool hasSms() const noexcept { return static_cast<bool>(policySm_); }
  bool smsReady() const;
  bool smsIdle() const;
  // "ready, idle", "ready, not idle: IeGroupToPolicySm", "not ready: IeStatusConfigSm", "none",
  // with the number of queued tasks when there are any. The default-route trackers react inside
  // the writers' calls and are always ready and idle.
  std::string smState() const;

  // Installs the policy `text` ("" for the default), until restoreYield().
  void yieldIs(const std::string& text);
  void restoreYield();
  std::string yieldText() const { return scheduler_->yieldPolicy().describe(); }

  // The step that following task runs belong to (for the Chrome trace).
  void stepIs(size_t step) noexcept { step_ = step; }
  // Whether changes of the outputs count in counts() (off for direct writes).
  void countChangesIs(bool on) noexcept;

  // The outputs' changes since the last call, in a fixed order of outputs, those with changes.
  std::vector<OutputChanges> takeChanges();
  // The tasks that ran since the last call, by the start of their first run.
  std::vector<TaskRuns> takeRuns();
  // Counted changes since resetCounts(), by output name ("polToVniLane", "statusConfig",
  // "groupToPolicy", "vniDefRoute", "vniLaneDefRoute", "exitOption", "resolverRequest").
  const ChangeCounts& counts(std::string_view output) const;
  void resetCounts() noexcept;

  // Checks every entity's invariants; throws std::logic_error naming a broken one.
  void checkInvariants() const;

 private:
  void taskRan(const Keel::Task& task, uint64_t startNanos, uint64_t durationNanos,
               uint64_t workDone) override;

  std::string defaultYield_;
  ChromeTrace* chrome_;
  Mica::Ptr<Keel::TaskScheduler> scheduler_;
  Mica::Ptr<Lane::LaneStatusDir> lanes_;
  Mica::Ptr<OrbInternetExit::InternetExitCliConfig> config_;
  Mica::Ptr<OrbInternetExit::IePolicyToVniLaneDir> output_;
  Mica::Ptr<OrbInternetExit::IeStatusConfigDir> statusConfig_;
  Mica::Ptr<OrbInternetExit::IeGroupToPolicyDir> groupToPolicy_;
  Mica::Ptr<Orb::OrbCommonSmData> orbcsd_;
  Mica::Ptr<OrbL3Unicast::DefaultRoutePresentInVni> vniDefRoute_;
  Mica::Ptr<OrbL3Unicast::DefaultRoutePresentForVniLane> vniLaneDefRoute_;
  Mica::Ptr<SiConnectionStatusDir> connStatusDir_;
  Mica::Ptr<SvcResolverResponseDir> svcRespDir_;
  Mica::Ptr<OrbInternetExit::IeExitOptionDir> exitOptionDir_;
  Mica::Ptr<SvcResolverRequestDir> svcReqDir_;
  absl::btree_map<Kiln::VrfId, std::string> vrfNames_;
  DataPath dataPath_;

  // The logs and their watchers: destroyed before the entities they watch.
  std::vector<OutputLog> logs_;
  SetWatch<decltype(OrbInternetExit::IePolicyToVniLaneDir::polToVniLane)> polToVniLaneWatch_;
  StatusConfigWatch statusConfigWatch_;
  GroupToPolicyWatch groupToPolicyWatch_;
  SetWatch<decltype(OrbL3Unicast::DefaultRoutePresentInVni::defaultRoute)> vniDefRouteWatch_;
  SetWatch<decltype(OrbL3Unicast::DefaultRoutePresentForVniLane::defaultRoute)> vniLaneDefRouteWatch_;
  ExitOptionWatch exitOptionWatch_;
  SetWatch<decltype(SvcResolverRequestDir::resolverRequest)> resolverRequestWatch_;

  // The pipeline state machines that exist, named, in creation order.
  std::vector<std::pair<const char*, const Flo::StateMachine*>> statusSms() const;

  // The state machines, in data-flow order; destroyed first, last created first.
  Mica::Ptr<OrbInternetExit::IePolicyToVniLaneSm> policySm_;
  Mica::Ptr<OrbInternetExit::IeStatusConfigSm> statusSm_;
  Mica::Ptr<OrbInternetExit::IeGroupToPolicySm> groupSm_;
  Mica::Ptr<OrbL3Unicast::VniDefaultRouteTrackerSm> vniTracker_;
  Mica::Ptr<OrbL3Unicast::VniLaneDefaultRouteTrackerSm> vniLaneTracker_;
  Mica::Ptr<OrbInternetExit::IeExitOptionStatusSm> exitOptionSm_;
  Mica::Ptr<OrbInternetExit::IeRemoteSvcResolverRequestSm> resolverSm_;

  std::vector<TaskRuns> runs_;
  size_t step_ = 0;
};

}  // namespace IeSim
