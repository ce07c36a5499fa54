// Uses the installed library through its public headers and the plug-in only: creates the
// root task scheduler, runs a task that reschedules itself a few times, and checks the runs.
#include <cstdio>

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

}  // namespace

int main() {
  constexpr int kWanted = 3;
  Mica::Ptr<Keel::TaskScheduler> scheduler = Keel::TaskSchedulerRoot::findOrCreateScheduler();
  if (!scheduler) {
    std::fprintf(stderr, "consumer: no root scheduler\n");
    return 1;
  }
  CountingWork work(kWanted);
  // Creating the task runs it once at once; the later runs come from the scheduler.
  auto task = Mica::make<Keel::Task>(scheduler, Keel::TaskPriority{1}, "consumerTask", &work);
  work.taskIs(task.get());
  task->scheduleTask();
  scheduler->runUntilIdle();

  if (work.runs() != kWanted) {
    std::fprintf(stderr, "consumer: task ran %d times, expected %d\n", work.runs(), kWanted);
    return 1;
  }
  std::printf("consumer: ok (%d task runs)\n", work.runs());
  return 0;
}
