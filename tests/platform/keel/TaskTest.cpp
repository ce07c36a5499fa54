#include "platform/keel/Task.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/platform/keel/KeelTestSupport.h"

namespace Keel::test {
namespace {

using Names = std::vector<std::string>;

TEST_F(SchedulerTest, CreationRunsOnceAtOnceAsARealRunOnlyWithASubscriber) {
  scheduler_->yieldPolicyIs(alwaysYield());
  std::string seen;  // what the run sees of itself
  OnRun sub([&] {
    Task* self = scheduler_->currentTask();
    ASSERT_NE(self, nullptr);
    seen = self->taskName() + (self->taskCurrentlyRunning() ? " running" : "") + (self->taskShouldYield() ? " yield" : "");
    self->taskWorkCountInc(7);
  });
  auto t = Mica::make<Task>(scheduler_, 3, "first", &sub);
  EXPECT_EQ(sub.runs, 1);
  EXPECT_EQ(seen, "first running yield");
  EXPECT_FALSE(t->taskCurrentlyRunning());
  EXPECT_FALSE(t->taskShouldYield()) << "outside a run the answer is false whatever the policy";
  EXPECT_EQ(scheduler_->currentTask(), nullptr);
  EXPECT_EQ(observer_.runs, Names{"first:7"});
  // Without a subscriber, creation neither runs nor queues the task.
  auto quiet = Mica::make<Task>(scheduler_, 1, "quiet");
  EXPECT_FALSE(quiet->taskScheduled());
  EXPECT_EQ(scheduler_->runUntilIdle(), 0u);
  EXPECT_EQ(scheduler_->runsTotal(), 1u);
}

TEST(TaskSchedulerRootTest, NullSchedulerMeansTheRootOne) {
  auto root = Mica::make<TaskScheduler>();
  TaskSchedulerRoot::schedulerIs(root);
  EXPECT_EQ(Mica::make<Task>(nullptr, 0, "rooted")->taskScheduler(), root);
  TaskSchedulerRoot::schedulerIs(nullptr);
  auto fresh = TaskSchedulerRoot::findOrCreateScheduler();
  ASSERT_TRUE(fresh);
  EXPECT_NE(fresh, root);
  EXPECT_EQ(TaskSchedulerRoot::findOrCreateScheduler(), fresh);
  TaskSchedulerRoot::schedulerIs(nullptr);
}

// Higher priority first across the whole range, first in first out within one; a task queued
// again while waiting keeps its place; a task destroyed while queued leaves from any position.
TEST_F(SchedulerTest, HigherPriorityFirstFifoWithinAPriorityNoDuplicatesAndDestroyedTasksLeave) {
  std::vector<Mica::Ptr<Task>> tasks;
  for (int p : {0, 64, 255, 63, 128, 1, 200}) {
    tasks.push_back(task("p" + std::to_string(p), static_cast<TaskPriority>(p)));
    tasks.back()->scheduleTask();
  }
  auto head = task("head", 5), a = task("a", 5), b = task("b", 5), c = task("c", 5), tail = task("tail", 5);
  for (auto* t : {&head, &a, &b, &a, &c, &b, &tail}) (*t)->scheduleTask();
  EXPECT_EQ(scheduler_->queued(), 12u);
  head = b = tail = nullptr;
  EXPECT_EQ(scheduler_->runUntilIdle(), 9u);
  EXPECT_EQ(log_, (Names{"p255", "p200", "p128", "p64", "p63", "a", "c", "p1", "p0"}));
  EXPECT_FALSE(a->taskScheduled());
}

TEST_F(SchedulerTest, RescheduleDuringRunQueuesBehindWaitingTasksWithoutReentry) {
  bool inRun = false;
  int runs = 0;
  auto a = task("a", 5, [&] {
    EXPECT_FALSE(inRun) << "run re-entered";
    inRun = true;
    if (++runs < 3) scheduler_->currentTask()->scheduleTask();
    inRun = false;
  });
  auto b = task("b", 5);
  a->scheduleTask();
  b->scheduleTask();
  EXPECT_EQ(scheduler_->runUntilIdle(), 4u);
  EXPECT_EQ(log_, (Names{"a", "b", "a", "a"}));
}

TEST_F(SchedulerTest, PriorityChangeWhileQueuedMovesToTheBackOfTheNewPriority) {
  auto d = task("d", 3), a = task("a", 1), b = task("b", 1), f = task("f", 1), c = task("c", 2), e = task("e", 0);
  for (auto* t : {&d, &a, &b, &f, &c}) (*t)->scheduleTask();
  a->taskPriorityIs(3);  // behind d, which waited at 3 already
  c->taskPriorityIs(0);  // behind b and f
  b->taskPriorityIs(1);  // unchanged: stays ahead of f
  e->taskPriorityIs(9);  // not queued: takes effect when scheduled
  e->scheduleTask();
  EXPECT_EQ(scheduler_->runUntilIdle(), 6u);
  EXPECT_EQ(log_, (Names{"e", "d", "a", "b", "f", "c"}));
}

// Tells when it is destroyed.
struct CountedTask : Task {
  CountedTask(const Mica::Ptr<TaskScheduler>& s, bool& destroyed) : Task(s, 1, "counted"), destroyed(destroyed) {}
  ~CountedTask() override { destroyed = true; }
  bool& destroyed;
};

TEST_F(SchedulerTest, TaskReleasedDuringItsOwnRunDiesWhenTheRunEnds) {
  bool destroyed = false;
  Mica::Ptr<Task> owner = Mica::make<CountedTask>(scheduler_, destroyed);
  OnRun sub([&] {
    owner->scheduleTask();  // queued again, then dropped with the task
    owner = nullptr;
    EXPECT_FALSE(destroyed) << "the running task must stay alive until its run ends";
  });
  owner->publisher().subscriberAdd(&sub);
  owner->scheduleTask();

  EXPECT_TRUE(scheduler_->runOne());
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(scheduler_->queued(), 0u);
  EXPECT_EQ(observer_.runs, Names{"counted:0"});
  EXPECT_FALSE(scheduler_->runOne());
}

TEST_F(SchedulerTest, TaskCreatedDuringARunRunsNestedAndRestoresTheOuterRun) {
  Mica::Ptr<Task> inner;
  Task* outerSelf = nullptr;
  OnRun innerSub([&] {
    log_.push_back("inner:" + scheduler_->currentTask()->taskName());
    if (innerSub.runs == 1) scheduler_->currentTask()->scheduleTask();
  });
  auto outer = task("outer", 9, [&] {
    inner = Mica::make<Task>(scheduler_, 1, "in", &innerSub);
    EXPECT_EQ(scheduler_->currentTask(), outerSelf);
    EXPECT_TRUE(outerSelf->taskCurrentlyRunning());
    EXPECT_FALSE(inner->taskCurrentlyRunning());
    EXPECT_FALSE(scheduler_->runOne()) << "queued tasks never run inside a run";
  });
  outerSelf = outer.get();
  outer->scheduleTask();
  EXPECT_EQ(scheduler_->runUntilIdle(), 2u);
  EXPECT_EQ(log_, (Names{"outer", "inner:in", "inner:in"}));
  EXPECT_EQ(scheduler_->runsTotal(), 3u);
}

TEST_F(SchedulerTest, ThrowingSubscriberLeavesTheSchedulerUsable) {
  auto a = task("a", 2, [] { throw std::runtime_error("boom"); });
  auto b = task("b", 1);
  a->scheduleTask();
  b->scheduleTask();
  EXPECT_THROW(scheduler_->runOne(), std::runtime_error);
  EXPECT_EQ(scheduler_->currentTask(), nullptr);
  EXPECT_FALSE(a->taskCurrentlyRunning());
  EXPECT_EQ(scheduler_->runUntilIdle(), 1u);
  EXPECT_EQ(log_, (Names{"a", "b"}));

  // A constructor run that queues the task and throws leaves nothing queued behind.
  OnRun bad([&] {
    scheduler_->currentTask()->scheduleTask();
    throw std::runtime_error("boom");
  });
  EXPECT_THROW(Mica::make<Task>(scheduler_, 1, "bad", &bad), std::runtime_error);
  EXPECT_TRUE(scheduler_->idle());
  EXPECT_EQ(scheduler_->currentTask(), nullptr);
}

// Each run's work reaches the observer in run order and counts from zero; pending work is kept.
TEST_F(SchedulerTest, ObserverGetsEveryRunInOrderWithTheWorkOfThatRun) {
  int lowRuns = 0;
  auto h = task("high", 7, [&] { scheduler_->currentTask()->taskWorkCountInc(5); });
  auto l = task("low", 2, [&] {
    Task* self = scheduler_->currentTask();
    EXPECT_EQ(self->workDone(), 0u);
    self->taskWorkCountInc(2);
    self->taskWorkCountInc(9);
    if (++lowRuns == 1) self->taskWorkPendingIs(40);
  });
  l->scheduleTask();
  h->scheduleTask();
  scheduler_->runUntilIdle();
  l->scheduleTask();
  scheduler_->runUntilIdle();
  EXPECT_EQ(observer_.runs, (Names{"high:5", "low:11", "low:11"}));
  ASSERT_EQ(observer_.starts.size(), 3u);
  EXPECT_LE(observer_.starts[0], observer_.starts[1]);
  EXPECT_EQ(observer_.starts[2], l->taskRunStartNanos());
  EXPECT_EQ(l->workDone(), 11u);
  EXPECT_EQ(l->workPending(), 40u);
}

}  // namespace
}  // namespace Keel::test
