#include "tools/iesim/World.h"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "tools/iesim/ChromeTrace.h"

namespace IeSim {

namespace {

// The outputs' logs, in the order the report shows them.
enum LogIndex : size_t { polToVniLaneLog, statusConfigLog, groupToPolicyLog, vniDefRouteLog,
                         vniLaneDefRouteLog, exitOptionLog, resolverRequestLog };

std::vector<OutputLog> makeLogs() {
  std::vector<OutputLog> logs;
  for (const char* name :
       {"polToVniLane", "statusConfig", "groupToPolicy", "vniDefRoute", "vniLaneDefRoute",
        "exitOption", "resolverRequest"}) {
    logs.emplace_back(name);
  }
  return logs;
}

}  // namespace

World::World(std::string defaultYield, ChromeTrace* chrome)
    : defaultYield_(std::move(defaultYield)),
      chrome_(chrome),
      scheduler_(Mica::make<Keel::TaskScheduler>()),
      lanes_(Mica::make<Lane::LaneStatusDir>()),
      config_(Mica::make<OrbInternetExit::InternetExitCliConfig>()),
      output_(Mica::make<OrbInternetExit::IePolicyToVniLaneDir>()),
      statusConfig_(Mica::make<OrbInternetExit::IeStatusConfigDir>()),
      groupToPolicy_(Mica::make<OrbInternetExit::IeGroupToPolicyDir>()),
      orbcsd_(Mica::make<Orb::OrbCommonSmData>()),
      vniDefRoute_(OrbL3Unicast::defaultRoutePresentInVniFactory()),
      vniLaneDefRoute_(OrbL3Unicast::defaultRoutePresentForVniLaneFactory()),
      connStatusDir_(Mica::make<SiConnectionStatusDir>()),
      svcRespDir_(Mica::make<SvcResolverResponseDir>()),
      exitOptionDir_(Mica::make<OrbInternetExit::IeExitOptionDir>()),
      svcReqDir_(Mica::make<SvcResolverRequestDir>()),
      dataPath_(orbcsd_),
      logs_(makeLogs()),
      polToVniLaneWatch_(*output_, output_->polToVniLane, logs_[polToVniLaneLog]),
      statusConfigWatch_(*statusConfig_, logs_[statusConfigLog]),
      groupToPolicyWatch_(*groupToPolicy_, logs_[groupToPolicyLog]),
      vniDefRouteWatch_(*vniDefRoute_, vniDefRoute_->defaultRoute, logs_[vniDefRouteLog]),
      vniLaneDefRouteWatch_(*vniLaneDefRoute_, vniLaneDefRoute_->defaultRoute,
                            logs_[vniLaneDefRouteLog]),
      exitOptionWatch_(*exitOptionDir_, logs_[exitOptionLog]),
      resolverRequestWatch_(*svcReqDir_, svcReqDir_->resolverRequest, logs_[resolverRequestLog]) {
  Keel::TaskSchedulerRoot::schedulerIs(scheduler_);
  scheduler_->runObserverIs(this);
  restoreYield();
}

World::~World() {
  stopSms();
  dataPath_.moduleDel();
  scheduler_->runObserverIs(nullptr);
  Keel::TaskSchedulerRoot::schedulerIs(nullptr);
}

Orb::VxlanInfo& World::vxlanInfo() {
  if (!orbcsd_->vxlanInfo.get()) orbcsd_->vxlanInfoIs(Mica::make<Orb::VxlanInfo>());
  return *orbcsd_->vxlanInfo.get();
}

void World::startSms(bool synchronous) {
  stopSms();
  Flo::SmControl control;
  control.taskScheduler = scheduler_;
  if (synchronous) control.synchronousMode = Flo::SmControl::synchronousModeOn;
  policySm_ = OrbInternetExit::iePolicyToVniLaneSmFactory(lanes_, output_, control);
  statusSm_ = OrbInternetExit::ieStatusConfigSmFactory(config_, output_, statusConfig_, control);
  groupSm_ = OrbInternetExit::ieGroupToPolicySmFactory(statusConfig_, groupToPolicy_, control);
  vniTracker_ = OrbL3Unicast::vniDefaultRouteTrackerSmFactory(orbcsd_, vniDefRoute_);
  vniLaneTracker_ =
      OrbL3Unicast::vniLaneDefaultRouteTrackerSmFactory(vniDefRoute_, output_, vniLaneDefRoute_);
  // Reads the pairs' default routes, so it comes after the trackers.
  exitOptionSm_ = OrbInternetExit::ieExitOptionStatusSmFactory(
      statusConfig_, orbcsd_, connStatusDir_, svcRespDir_, vniLaneDefRoute_, exitOptionDir_, control);
  resolverSm_ = OrbInternetExit::ieRemoteSvcResolverRequestSmFactory(exitOptionDir_, svcReqDir_, control);
}

void World::stopSms() {
  resolverSm_ = nullptr;
  exitOptionSm_ = nullptr;
  vniLaneTracker_ = nullptr;
  vniTracker_ = nullptr;
  groupSm_ = nullptr;
  statusSm_ = nullptr;
  policySm_ = nullptr;
}

std::vector<std::pair<const char*, const Flo::StateMachine*>> World::statusSms() const {
  std::vector<std::pair<const char*, const Flo::StateMachine*>> sms;
  if (!policySm_) return sms;
  sms = {{"IePolicyToVniLaneSm", policySm_.get()},
         {"IeStatusConfigSm", statusSm_.get()},
         {"IeGroupToPolicySm", groupSm_.get()}};
  sms.emplace_back("IeExitOptionStatusSm", exitOptionSm_.get());
  sms.emplace_back("IeRemoteSvcResolverRequestSm", resolverSm_.get());
  return sms;
}

bool World::smsReady() const {
  if (!policySm_) return false;
  for (const auto& [name, sm] : statusSms()) {
    if (!sm->ready()) return false;
  }
  return true;
}

bool World::smsIdle() const {
  if (!policySm_) return false;
  for (const auto& [name, sm] : statusSms()) {
    if (!sm->idle()) return false;
  }
  return true;
}

std::string World::smState() const {
  std::string state = "none";
  if (policySm_) {
    std::string notReady, notIdle;
    for (const auto& [name, sm] : statusSms()) {
      if (sm->idle()) continue;
      std::string& list = sm->ready() ? notIdle : notReady;
      list += fmt::format("{}{}", list.empty() ? "" : ", ", name);
    }
    state = notReady.empty() ? "ready" : "not ready: " + notReady;
    if (notReady.empty() && notIdle.empty()) state += ", idle";
    if (!notIdle.empty()) state += fmt::format("{} not idle: {}", notReady.empty() ? "," : ";", notIdle);
  }
  if (const size_t queued = scheduler_->queued(); queued != 0) {
    state += fmt::format("; {} task{} queued", queued, queued == 1 ? "" : "s");
  }
  return state;
}

void World::yieldIs(const std::string& text) {
  scheduler_->yieldPolicyIs(text.empty() ? nullptr : Keel::yieldPolicyFromString(text));
}

void World::restoreYield() { yieldIs(defaultYield_); }

void World::countChangesIs(bool on) noexcept {
  for (auto& log : logs_) log.countingIs(on);
}

std::vector<OutputChanges> World::takeChanges() {
  std::vector<OutputChanges> out;
  for (auto& log : logs_) {
    size_t more = 0;
    auto lines = log.take(more);
    if (!lines.empty()) out.push_back({log.name(), std::move(lines), more});
  }
  return out;
}

const ChangeCounts& World::counts(std::string_view output) const {
  for (const auto& log : logs_) {
    if (log.name() == output) return log.counts();
  }
  throw std::logic_error(fmt::format("no output named {}", output));
}

void World::resetCounts() noexcept {
  for (auto& log : logs_) log.resetCounts();
}

std::vector<TaskRuns> World::takeRuns() {
  // A run is reported when it ends, so a run nested in another (a task created inside a run
  // runs at once) is reported first.
  std::stable_sort(runs_.begin(), runs_.end(), [](const TaskRuns& a, const TaskRuns& b) {
    return a.firstStartNanos < b.firstStartNanos;
  });
  return std::exchange(runs_, {});
}

void World::checkInvariants() const {
  lanes_->checkInvariants();
  if (!output_->checkInvariants()) throw std::logic_error("polToVniLane: broken invariant");
  config_->exitGroupConfig.checkInvariants();
  config_->policyConfig.checkInvariants();
  statusConfig_->statusConfig.checkInvariants();
  if (!groupToPolicy_->checkInvariants()) throw std::logic_error("groupToPolicy: broken invariant");
  orbcsd_->checkInvariants();
  vniDefRoute_->checkInvariants();
  vniLaneDefRoute_->checkInvariants();
  connStatusDir_->checkInvariants();
  svcRespDir_->checkInvariants();
  svcReqDir_->checkInvariants();
  if (!exitOptionDir_->checkInvariants()) throw std::logic_error("exitOption: broken invariant");
  if (const auto* model = dataPath_.model()) model->checkInvariants();
}

void World::taskRan(const Keel::Task& task, uint64_t startNanos, uint64_t durationNanos,
                    uint64_t workDone) {
  auto it = std::find_if(runs_.begin(), runs_.end(),
                         [&](const TaskRuns& r) { return r.task == task.taskName(); });
  if (it == runs_.end()) it = runs_.insert(runs_.end(), TaskRuns{task.taskName(), startNanos});
  ++it->runs;
  it->work += workDone;
  if (chrome_ != nullptr) chrome_->taskRan(task.taskName(), startNanos, durationNanos, workDone, step_);
}

}  // namespace IeSim
