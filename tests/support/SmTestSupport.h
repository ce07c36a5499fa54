// Running state machines under each scheduling mode in tests.
//
// Every state-machine test runs under four modes: a scheduler that never yields, one that
// yields after every element, one with seeded random yields, and synchronous control (no task
// at all). The outputs must be identical in all of them.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/agents/VniAndLaneId.h"
#include "platform/keel/Task.h"
#include "platform/mica/Assert.h"
#include "runtime/SmControl.h"

namespace IeTest {

enum class Mode { neverYield, alwaysYield, randomYield, synchronous };

inline std::string modeName(const testing::TestParamInfo<Mode>& info) {
  static const char* const names[] = {"NeverYield", "AlwaysYield", "RandomYield", "Synchronous"};
  return names[static_cast<int>(info.param)];
}

inline const auto allModes =
    testing::Values(Mode::neverYield, Mode::alwaysYield, Mode::randomYield, Mode::synchronous);

// Gives `scheduler` the mode's yield policy and returns a control that uses it (synchronous for
// Mode::synchronous).
inline Flo::SmControl controlFor(Mode mode, const Mica::Ptr<Keel::TaskScheduler>& scheduler, uint64_t seed) {
  Flo::SmControl control;
  switch (mode) {
    case Mode::neverYield: scheduler->yieldPolicyIs(Keel::neverYield()); break;
    case Mode::alwaysYield: scheduler->yieldPolicyIs(Keel::alwaysYield()); break;
    case Mode::randomYield: scheduler->yieldPolicyIs(Keel::seededRandom(seed, 40)); break;
    case Mode::synchronous: control.synchronousMode = Flo::SmControl::synchronousModeOn; break;
  }
  control.taskScheduler = scheduler;
  return control;
}

// The pair (VNI `vni`, lane `lane`), as the tests write it.
inline Lane::VniAndLaneId pair(int vni, int lane) {
  return Lane::VniAndLaneId(Lane::VniId(vni), static_cast<uint16_t>(lane));
}

// A fresh scheduler with the mode's yield policy, and a control that uses it.
class ModeFixture : public testing::TestWithParam<Mode> {
 protected:
  ModeFixture() : scheduler_(new Keel::TaskScheduler()), control_(controlFor(GetParam(), scheduler_, seed_)) {}

  // Runs every queued task; returns the number of runs.
  uint64_t runUntilIdle() { return scheduler_->runUntilIdle(); }
  const Flo::SmControl& control() const { return control_; }
  Keel::TaskScheduler& scheduler() { return *scheduler_; }

  static constexpr uint64_t seed_ = 20261206;
  Mica::ThrowingAssertions throwing_;
  Mica::Ptr<Keel::TaskScheduler> scheduler_;
  Flo::SmControl control_;
};

}  // namespace IeTest
