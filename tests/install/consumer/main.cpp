// Uses the installed library the way an agent does, through its public headers and the plug-in
// only: runs a task of its own on the root scheduler, then creates a state machine through an
// exported factory and checks what it writes.
#include <cstdio>

#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"
#include "platform/keel/Task.h"

namespace {

// Counts its runs and asks for another one until it has run `wanted` times.
class CountingWork : public Mica::Subscriber {
 public:
  explicit CountingWork(int wanted) : wanted_(wanted) {}

  void taskIs(Keel::Task* task) { task_ = task; }
  int runs() const { return runs_; }

  void onNotification(Mica::AttrId, const void*, const void*) override {
    ++runs_;
    if (task_ != nullptr && runs_ < wanted_) task_->scheduleTask();
  }

 private:
  Keel::Task* task_ = nullptr;
  int wanted_;
  int runs_ = 0;
};

bool fail(const char* what) {
  std::fprintf(stderr, "consumer: %s\n", what);
  return false;
}

bool schedulerRunsTasks(const Mica::Ptr<Keel::TaskScheduler>& scheduler) {
  constexpr int kWanted = 3;
  CountingWork work(kWanted);
  // Creating the task runs it once at once; the later runs come from the scheduler.
  auto task = Mica::make<Keel::Task>(scheduler, Keel::TaskPriority{1}, "consumerTask", &work);
  work.taskIs(task.get());
  task->scheduleTask();
  scheduler->runUntilIdle();
  return work.runs() == kWanted || fail("the task did not run three times");
}

bool factoryBindsPolicy(const Mica::Ptr<Keel::TaskScheduler>& scheduler) {
  const Lane::VniAndLaneId pair(Lane::VniId(1), 2);
  Mica::Ptr<Lane::LaneStatusDir> lanes(new Lane::LaneStatusDir());
  Mica::Ptr<OrbInternetExit::IePolicyToVniLaneDir> bound(new OrbInternetExit::IePolicyToVniLaneDir());
  lanes->laneToIEMapIs(pair, "P");

  Flo::SmControl control;
  control.taskScheduler = scheduler;
  auto sm = OrbInternetExit::iePolicyToVniLaneSmFactory(lanes, bound, control);
  scheduler->runUntilIdle();
  if (!sm->ready()) return fail("the state machine did not become ready");
  return bound->polToVniLane.contains(OrbInternetExit::PolicyVniLaneKey("P", pair)) ||
         fail("the binding of P to (1, 2) was not written");
}

}  // namespace

int main() {
  Mica::Ptr<Keel::TaskScheduler> scheduler = Keel::TaskSchedulerRoot::findOrCreateScheduler();
  if (!scheduler) {
    fail("no root scheduler");
    return 1;
  }
  if (!schedulerRunsTasks(scheduler) || !factoryBindsPolicy(scheduler)) return 1;
  std::printf("consumer: ok\n");
  return 0;
}
