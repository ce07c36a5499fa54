#include "tools/iesim/World.h"

#include <fmt/format.h>

#include <algorithm>

#include "tools/iesim/ChromeTrace.h"

namespace IeSim {

World::World(std::string defaultYield, ChromeTrace* chrome)
    : defaultYield_(std::move(defaultYield)),
      chrome_(chrome),
      scheduler_(Mica::make<Keel::TaskScheduler>()),
      lanes_(Mica::make<Lane::LaneStatusDir>()),
      output_(Mica::make<OrbInternetExit::IePolicyToVniLaneDir>()) {
  Keel::TaskSchedulerRoot::schedulerIs(scheduler_);
  scheduler_->runObserverIs(this);
  restoreYield();
  output_->subscriberAdd(this);
}

World::~World() {
  sm_ = nullptr;
  output_->subscriberRemove(this);
  scheduler_->runObserverIs(nullptr);
  Keel::TaskSchedulerRoot::schedulerIs(nullptr);
}

void World::startSm(bool synchronous) {
  sm_ = nullptr;
  Flo::SmControl control;
  control.taskScheduler = scheduler_;
  if (synchronous) control.synchronousMode = Flo::SmControl::synchronousModeOn;
  sm_ = OrbInternetExit::iePolicyToVniLaneSmFactory(lanes_, output_, control);
}

std::string World::smState() const {
  std::string state = !sm_ ? "none" : sm_->idle() ? "ready, idle" : sm_->ready() ? "ready" : "not ready";
  if (const size_t queued = scheduler_->queued(); queued != 0) {
    state += fmt::format("; {} task{} queued", queued, queued == 1 ? "" : "s");
  }
  return state;
}

void World::yieldIs(const std::string& text) {
  scheduler_->yieldPolicyIs(text.empty() ? nullptr : Keel::yieldPolicyFromString(text));
}

void World::restoreYield() { yieldIs(defaultYield_); }

std::vector<TaskRuns> World::takeRuns() {
  // A run is reported when it ends, so a run nested in another (a task created inside a run
  // runs at once) is reported first.
  std::stable_sort(runs_.begin(), runs_.end(), [](const TaskRuns& a, const TaskRuns& b) {
    return a.firstStartNanos < b.firstStartNanos;
  });
  return std::exchange(runs_, {});
}

void World::onNotification(Mica::AttrId, const void* key, const void*) {
  const auto& k = *static_cast<const OrbInternetExit::PolicyVniLaneKey*>(key);
  // A set notifies after the change: membership tells an addition from a deletion.
  const bool added = output_->polToVniLane.contains(k);
  changes_.push_back({added, k});
  if (!countChanges_) return;
  ++(added ? added_ : removed_);
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
