#include "tools/iesim/World.h"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "tools/iesim/ChromeTrace.h"

namespace IeSim {

namespace {

// The outputs' logs, in the order the report shows them.
enum LogIndex : size_t { polToVniLaneLog, statusConfigLog, groupToPolicyLog, vniDefRouteLog,
                         vniLaneDefRouteLog, exitOptionLog, resolverRequestLog, exitGroupLog,
                         policyStatusLog, svcInUseLog };

std::vector<OutputLog> makeLogs() {
  std::vector<OutputLog> logs;
  for (const char* name :
       {"polToVniLane", "statusConfig", "groupToPolicy", "vniDefRoute", "vniLaneDefRoute",
        "exitOption", "resolverRequest", "exitGroup", "policyStatus", "svcInUse"}) {
    logs.emplace_back(name);
  }
  return logs;
}

using OrbInternetExit::Component;

// The trackers are plain reactors, not state machines with a readiness of their own.
bool isTracker(Component c) { return c == Component::vniDefaultRoute || c == Component::vniLaneDefaultRoute; }

}  // namespace

World::World(std::string defaultYield, ChromeTrace* chrome)
    : defaultYield_(std::move(defaultYield)),
      chrome_(chrome),
      scheduler_(Mica::make<Keel::TaskScheduler>()),
      lanes_(Mica::make<Lane::LaneStatusDir>()),
      config_(Mica::make<OrbInternetExit::InternetExitCliConfig>()),
      orbcsd_(Mica::make<Orb::OrbCommonSmData>()),
      connStatusDir_(Mica::make<SiConnectionStatusDir>()),
      svcRespDir_(Mica::make<SvcResolverResponseDir>()),
      svcReqDir_(Mica::make<SvcResolverRequestDir>()),
      svcNotifDir_(Mica::make<SvcInUseNotificationDir>()),
      out_(OrbInternetExit::LibraryOutputs::create()),
      dataPath_(orbcsd_),
      logs_(makeLogs()),
      polToVniLaneWatch_(*out_.policyToVniLane, out_.policyToVniLane->polToVniLane, logs_[polToVniLaneLog]),
      statusConfigWatch_(*out_.statusConfig, logs_[statusConfigLog]),
      groupToPolicyWatch_(*out_.groupToPolicy, logs_[groupToPolicyLog]),
      vniDefRouteWatch_(*out_.vniDefaultRoute, out_.vniDefaultRoute->defaultRoute, logs_[vniDefRouteLog]),
      vniLaneDefRouteWatch_(*out_.vniLaneDefaultRoute, out_.vniLaneDefaultRoute->defaultRoute,
                            logs_[vniLaneDefRouteLog]),
      exitOptionWatch_(*out_.exitOption, logs_[exitOptionLog]),
      resolverRequestWatch_(*svcReqDir_, svcReqDir_->resolverRequest, logs_[resolverRequestLog]),
      exitGroupWatch_(*out_.exitGroup, logs_[exitGroupLog]),
      policyWatch_(*out_.policy, logs_[policyStatusLog]),
      svcInUseWatch_(*svcNotifDir_, svcNotifDir_->svcNotification, logs_[svcInUseLog]) {
  Keel::TaskSchedulerRoot::schedulerIs(scheduler_);
  scheduler_->runObserverIs(this);
  restoreYield();
}

World::~World() {
  assembly_ = nullptr;
  dataPath_.moduleDel();
  scheduler_->runObserverIs(nullptr);
  Keel::TaskSchedulerRoot::schedulerIs(nullptr);
}

Orb::VxlanInfo& World::vxlanInfo() {
  if (!orbcsd_->vxlanInfo.get()) orbcsd_->vxlanInfoIs(Mica::make<Orb::VxlanInfo>());
  return *orbcsd_->vxlanInfo.get();
}

Flo::SmControl World::control(bool synchronous) const {
  Flo::SmControl control;
  control.taskScheduler = scheduler_;
  if (synchronous) control.synchronousMode = Flo::SmControl::synchronousModeOn;
  return control;
}

void World::startSms(bool synchronous) {
  assembly_ = nullptr;
  assembly_ = std::make_unique<OrbInternetExit::InternetExitAssembly>(
      OrbInternetExit::AgentEntities{lanes_, config_, orbcsd_, connStatusDir_, svcRespDir_, svcReqDir_,
                                     svcNotifDir_},
      out_, control(synchronous));
  synchronous_ = synchronous;
  assembly_->startAll();
}

void World::restartComponents(std::span<const Component> cs, bool synchronous) {
  if (!assembly_) {
    assembly_ = std::make_unique<OrbInternetExit::InternetExitAssembly>(
        OrbInternetExit::AgentEntities{lanes_, config_, orbcsd_, connStatusDir_, svcRespDir_, svcReqDir_,
                                       svcNotifDir_},
        out_, control(synchronous));
    synchronous_ = synchronous;
  } else if (synchronous != synchronous_) {
    throw std::invalid_argument(fmt::format(
        "synchronous: {}: a restart of some components keeps the mode of the running ones ({}); "
        "restart all of them to change it",
        synchronous, synchronous_ ? "synchronous" : "asynchronous"));
  }
  stopComponents(cs);
  for (const Component c : cs) assembly_->start(c);
}

void World::stopSms() {
  if (assembly_) assembly_->stopAll();
}

void World::stopComponents(std::span<const Component> cs) {
  if (!assembly_) return;
  for (size_t i = OrbInternetExit::kComponentCount; i-- > 0;) {
    const auto c = static_cast<Component>(i);
    if (std::find(cs.begin(), cs.end(), c) != cs.end()) assembly_->stop(c);
  }
}

bool World::hasSms() const noexcept {
  if (!assembly_) return false;
  for (size_t i = 0; i < OrbInternetExit::kComponentCount; ++i) {
    if (assembly_->running(static_cast<Component>(i))) return true;
  }
  return false;
}

bool World::smsReady() const { return hasSms() && assembly_->ready(); }

bool World::smsIdle() const { return hasSms() && assembly_->idle(); }

std::string World::smState() const {
  std::string state = "none";
  if (hasSms()) {
    std::string notReady, notIdle, stopped;
    for (size_t i = 0; i < OrbInternetExit::kComponentCount; ++i) {
      const auto c = static_cast<Component>(i);
      const auto name = OrbInternetExit::componentName(c);
      if (!assembly_->running(c)) {
        stopped += fmt::format("{}{}", stopped.empty() ? "" : ", ", name);
        continue;
      }
      if (isTracker(c)) continue;
      const auto* sm = assembly_->sm<Flo::StateMachine>(c);
      if (sm->idle()) continue;
      std::string& list = sm->ready() ? notIdle : notReady;
      list += fmt::format("{}{}", list.empty() ? "" : ", ", name);
    }
    state = notReady.empty() ? "ready" : "not ready: " + notReady;
    if (notReady.empty() && notIdle.empty()) state += ", idle";
    if (!notIdle.empty()) state += fmt::format("{} not idle: {}", notReady.empty() ? "," : ";", notIdle);
    if (!stopped.empty()) state += "; stopped: " + stopped;
  }
  if (const size_t queued = scheduler_->queued(); queued != 0) {
    state += fmt::format("; {} task{} queued", queued, queued == 1 ? "" : "s");
  }
  return state;
}

// Without a policy named, the scheduler's default budget without its time slice: a scenario's
// task runs then replay the same on every machine and under the sanitizers.
void World::yieldIs(const std::string& text) {
  scheduler_->yieldPolicyIs(text.empty() ? Keel::workBudget(Keel::kDefaultWorkBudget)
                                         : Keel::yieldPolicyFromString(text));
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
  if (output == "commands") return dataPath_.commandCounts();
  for (const auto& log : logs_) {
    if (log.name() == output) return log.counts();
  }
  throw std::logic_error(fmt::format("no output named {}", output));
}

void World::resetCounts() noexcept {
  for (auto& log : logs_) log.resetCounts();
  dataPath_.resetCommandCounts();
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
  if (!out_.policyToVniLane->checkInvariants()) throw std::logic_error("polToVniLane: broken invariant");
  config_->exitGroupConfig.checkInvariants();
  config_->policyConfig.checkInvariants();
  out_.statusConfig->statusConfig.checkInvariants();
  if (!out_.groupToPolicy->checkInvariants()) throw std::logic_error("groupToPolicy: broken invariant");
  orbcsd_->checkInvariants();
  out_.vniDefaultRoute->checkInvariants();
  out_.vniLaneDefaultRoute->checkInvariants();
  connStatusDir_->checkInvariants();
  svcRespDir_->checkInvariants();
  svcReqDir_->checkInvariants();
  svcNotifDir_->checkInvariants();
  if (!out_.exitOption->checkInvariants()) throw std::logic_error("exitOption: broken invariant");
  if (!out_.exitGroup->checkInvariants()) throw std::logic_error("exitGroup: broken invariant");
  // A policy status may be empty only inside an evaluation; between steps none is.
  if (!out_.policy->checkInvariants()) throw std::logic_error("policyStatus: broken invariant");
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
