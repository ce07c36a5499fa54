// Helpers for the Keel tests: a subscriber that runs a callback on each task run, and a
// fixture that builds named tasks on a private scheduler, logs the order they run in and
// records every run.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/keel/Task.h"

namespace Keel::test {

// Counts the runs it is told of (a run notifies runAttr with null key and old value), and runs
// `body` on each.
struct OnRun : Mica::Subscriber {
  explicit OnRun(std::function<void()> body = {}) : body(std::move(body)) {}
  void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override {
    runs += attr == Task::runAttr && key == nullptr && oldValue == nullptr ? 1 : 100;
    if (body) body();
  }
  std::function<void()> body;
  int runs = 0;
};

// Every run as "<task name>:<work done>", and its start.
struct RecordingObserver : TaskRunObserver {
  void taskRan(const Task& task, uint64_t startNanos, uint64_t, uint64_t workDone) override {
    runs.push_back(task.taskName() + ":" + std::to_string(workDone));
    starts.push_back(startNanos);
  }
  std::vector<std::string> runs;
  std::vector<uint64_t> starts;
};

class SchedulerTest : public ::testing::Test {
 protected:
  SchedulerTest() { scheduler_->runObserverIs(&observer_); }
  // A task that appends its name to log_ on every run, then runs `extra`.
  Mica::Ptr<Task> task(const std::string& name, TaskPriority priority,
                       std::function<void()> extra = {}) {
    auto t = Mica::make<Task>(scheduler_, priority, name);
    OnRun& sub = subs_.emplace_back([this, name, extra] {
      log_.push_back(name);
      if (extra) extra();
    });
    t->publisher().subscriberAdd(&sub);
    return t;
  }

  Mica::Ptr<TaskScheduler> scheduler_ = Mica::make<TaskScheduler>();
  RecordingObserver observer_;
  std::vector<std::string> log_;
  std::deque<OnRun> subs_;  // stable addresses; outlive every task of a test body
};

}  // namespace Keel::test
