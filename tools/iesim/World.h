// The simulated agent: the entities a scenario drives, the scheduler, the library (one
// OrbInternetExit::InternetExitAssembly), the engine with its InternetExit module, and logs of
// what happened to the outputs and which tasks ran.
//
//   component                     reads                        writes
//   IePolicyToVniLaneSm           lanes                        polToVniLane
//   IeStatusConfigSm              config, polToVniLane         statusConfig
//   IeGroupToPolicySm             statusConfig                 groupToPolicy
//   VniDefaultRouteTrackerSm      orbcsd                       vniDefRoute
//   VniLaneDefaultRouteTrackerSm  vniDefRoute, polToVniLane    vniLaneDefRoute
//   IeExitOptionStatusSm          statusConfig, orbcsd,        exitOption (and gates of the
//                                 connections, responses,      module's gate manager)
//                                 vniLaneDefRoute
//   IeRemoteSvcResolverRequestSm  exitOption                   resolverRequest
//   IeExitGroupStatusSm           statusConfig, exitOption     exitGroup
//   IePolicyStatusSm              statusConfig, exitGroup,     policyStatus
//                                 groupToPolicy
//   IeProgramDpSm                 orbcsd, policyStatus         svcInUse, exit-info commands
//                                                              queued for the DataPathModel
//
// The World owns every input and output entity (kept across restarts: the assembly gets the
// outputs the World made as its LibraryOutputs) and a fresh scheduler that it also installs as
// the root scheduler. The InternetExit module is the World's too (DataPath): scenarios make it
// come and go, and replace it by other kinds, independently of the state machines, so the
// assembly is never asked to create modules. The World watches each output (Watch.h) and the
// scheduler (Keel::TaskRunObserver), so that each step can report the changes and task runs it
// caused; the runner reads and clears the logs once per step.
#pragma once

#include <absl/container/btree_map.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "Orb/InternetExitAssembly.h"
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
  OrbInternetExit::IePolicyToVniLaneDir& output() noexcept { return *out_.policyToVniLane; }
  OrbInternetExit::IeStatusConfigDir& statusConfig() noexcept { return *out_.statusConfig; }
  OrbInternetExit::IeGroupToPolicyDir& groupToPolicy() noexcept { return *out_.groupToPolicy; }
  OrbInternetExit::IeExitOptionDir& exitOptions() noexcept { return *out_.exitOption; }
  SvcResolverRequestDir& requests() noexcept { return *svcReqDir_; }
  OrbInternetExit::IeExitGroupDir& exitGroups() noexcept { return *out_.exitGroup; }
  OrbInternetExit::IePolicyDir& policies() noexcept { return *out_.policy; }
  SvcInUseNotificationDir& notifications() noexcept { return *svcNotifDir_; }
  const OrbL3Unicast::DefaultRoutePresentInVni& vniDefRoute() const noexcept { return *out_.vniDefaultRoute; }
  const OrbL3Unicast::DefaultRoutePresentForVniLane& vniLaneDefRoute() const noexcept {
    return *out_.vniLaneDefaultRoute;
  }
  const Lane::LaneStatusDir& lanes() const noexcept { return *lanes_; }
  const OrbInternetExit::IePolicyToVniLaneDir& output() const noexcept { return *out_.policyToVniLane; }
  const OrbInternetExit::IeStatusConfigDir& statusConfig() const noexcept { return *out_.statusConfig; }
  const OrbInternetExit::IeGroupToPolicyDir& groupToPolicy() const noexcept { return *out_.groupToPolicy; }
  const OrbInternetExit::IeExitOptionDir& exitOptions() const noexcept { return *out_.exitOption; }
  const OrbInternetExit::IeExitGroupDir& exitGroups() const noexcept { return *out_.exitGroup; }
  const OrbInternetExit::IePolicyDir& policies() const noexcept { return *out_.policy; }
  const SvcInUseNotificationDir& notifications() const noexcept { return *svcNotifDir_; }
  const SvcResolverRequestDir& requests() const noexcept { return *svcReqDir_; }
  const SiConnectionStatusDir& connections() const noexcept { return *connStatusDir_; }
  const SvcResolverResponseDir& responses() const noexcept { return *svcRespDir_; }
  const Orb::OrbCommonSmData& orbcsd() const noexcept { return *orbcsd_; }
  const DataPath& dataPath() const noexcept { return dataPath_; }
  const absl::btree_map<Kiln::VrfId, std::string>& vrfNames() const noexcept { return vrfNames_; }
  Keel::TaskScheduler& scheduler() noexcept { return *scheduler_; }

  // Destroys the state machines, if any (outputs stay; the trackers empty theirs), and creates
  // all of them again, in data-flow order, on a new assembly.
  void startSms(bool synchronous);
  // Stops the components `cs` (last in data-flow order first), then starts them in the order
  // given. Without an assembly one is made (in `synchronous` mode) and only these start; with
  // one, `synchronous` must be its mode (else std::invalid_argument saying so).
  void restartComponents(std::span<const OrbInternetExit::Component> cs, bool synchronous);
  // Destroys every state machine, last created first.
  void stopSms();
  void stopComponents(std::span<const OrbInternetExit::Component> cs);
  bool hasSms() const noexcept;
  bool running(OrbInternetExit::Component c) const noexcept { return assembly_ && assembly_->running(c); }
  bool smsReady() const;
  bool smsIdle() const;
  // "ready, idle", "ready, not idle: IeGroupToPolicySm", "not ready: IeStatusConfigSm", "none",
  // then the stopped components when some run, and the number of queued tasks when there are
  // any. The default-route trackers react inside the writers' calls and are always ready and
  // idle.
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
  // The (group, option) results and the policies that changed since the last call.
  std::vector<ExitGroupWatch::Touch> takeGroupTouches() { return exitGroupWatch_.takeTouched(); }
  std::vector<OrbInternetExit::PolicyVniLaneKey> takePolicyTouches() { return policyWatch_.takeTouched(); }
  // Counted changes since resetCounts(), by output name ("polToVniLane", "statusConfig",
  // "groupToPolicy", "vniDefRoute", "vniLaneDefRoute", "exitOption", "resolverRequest",
  // "exitGroup", "policyStatus", "svcInUse"), and "commands": the exit-info commands queued
  // (added: adds, removed: deletes).
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
  Mica::Ptr<Orb::OrbCommonSmData> orbcsd_;
  Mica::Ptr<SiConnectionStatusDir> connStatusDir_;
  Mica::Ptr<SvcResolverResponseDir> svcRespDir_;
  Mica::Ptr<SvcResolverRequestDir> svcReqDir_;
  Mica::Ptr<SvcInUseNotificationDir> svcNotifDir_;
  OrbInternetExit::LibraryOutputs out_;
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
  ExitGroupWatch exitGroupWatch_;
  PolicyStatusWatch policyWatch_;
  SetWatch<decltype(SvcInUseNotificationDir::svcNotification)> svcInUseWatch_;

  Flo::SmControl control(bool synchronous) const;
  // The library; destroyed first, which stops every state machine, last created first.
  std::unique_ptr<OrbInternetExit::InternetExitAssembly> assembly_;
  bool synchronous_ = false;

  std::vector<TaskRuns> runs_;
  size_t step_ = 0;
};

}  // namespace IeSim
