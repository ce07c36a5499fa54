// Fixtures of the IePolicyToVniLaneSm benchmarks: a control on a given scheduler, a counter of
// output writes, and a "world" (lane status, output and a ready state machine over it).
#pragma once

#include <cstdint>

#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"
#include "bench/BenchSupport.h"
#include "platform/keel/Task.h"

namespace IeBench {

using OrbInternetExit::IePolicyToVniLaneDir;
using OrbInternetExit::IePolicyToVniLaneSm;

// A control whose tasks run on `scheduler` (asynchronous, priority 0, default trace handler).
inline Flo::SmControl controlOn(const Mica::Ptr<Keel::TaskScheduler>& scheduler) {
  Flo::SmControl control;
  control.taskScheduler = scheduler;
  return control;
}

// Counts every notification of the output (one per added or deleted key) while it lives.
class WriteCounter final : public Mica::Subscriber {
 public:
  explicit WriteCounter(const IePolicyToVniLaneDir& dir) : dir_(dir) { dir_.subscriberAdd(this); }
  ~WriteCounter() { dir_.subscriberRemove(this); }
  WriteCounter(const WriteCounter&) = delete;
  WriteCounter& operator=(const WriteCounter&) = delete;

  uint64_t writes() const noexcept { return writes_; }
  void onNotification(Mica::AttrId, const void*, const void*) override { ++writes_; }

 private:
  const IePolicyToVniLaneDir& dir_;
  uint64_t writes_ = 0;
};

// Records the longest task run of a scheduler: what another task may have to wait.
class LongestRun final : public Keel::TaskRunObserver {
 public:
  void taskRan(const Keel::Task&, uint64_t, uint64_t durationNanos, uint64_t) override {
    if (durationNanos > longestNanos) longestNanos = durationNanos;
  }
  uint64_t longestNanos = 0;
};

// One state machine, ready and idle, over n bindings; its scheduler has the default policy.
struct World {
  Mica::Ptr<Lane::LaneStatusDir> lanes;
  Mica::Ptr<IePolicyToVniLaneDir> dir;
  Mica::Ptr<Keel::TaskScheduler> scheduler;
  Mica::Ptr<IePolicyToVniLaneSm> sm;
};

// A state machine ready over `lanes`, on a new scheduler with the default yield policy.
inline World worldOver(const Mica::Ptr<Lane::LaneStatusDir>& lanes) {
  World w{lanes, Mica::Ptr<IePolicyToVniLaneDir>(new IePolicyToVniLaneDir()),
          Mica::Ptr<Keel::TaskScheduler>(new Keel::TaskScheduler()), nullptr};
  w.sm = OrbInternetExit::iePolicyToVniLaneSmFactory(w.lanes, w.dir, controlOn(w.scheduler));
  w.scheduler->runUntilIdle();
  return w;
}

}  // namespace IeBench
