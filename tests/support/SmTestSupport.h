// Running state machines under each scheduling mode in tests.
//
// Every state-machine test runs under four modes: a scheduler that never yields, one that
// yields after every element, one with seeded random yields, and synchronous control (no task
// at all). The outputs must be identical in all of them.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/keel/Task.h"
#include "platform/mica/Assert.h"
#include "runtime/SmControl.h"

namespace IeTest {

enum class Mode { neverYield, alwaysYield, randomYield, synchronous };

inline std::string modeName(const testing::TestParamInfo<Mode>& info) {
  switch (info.param) {
    case Mode::neverYield: return "NeverYield";
    case Mode::alwaysYield: return "AlwaysYield";
    case Mode::randomYield: return "RandomYield";
    case Mode::synchronous: return "Synchronous";
  }
  return "Unknown";
}

inline const auto allModes =
    testing::Values(Mode::neverYield, Mode::alwaysYield, Mode::randomYield, Mode::synchronous);

// A fresh scheduler with the mode's yield policy, and a control that uses it.
class ModeFixture : public testing::TestWithParam<Mode> {
 protected:
  ModeFixture() : scheduler_(new Keel::TaskScheduler()) {
    switch (GetParam()) {
      case Mode::neverYield: scheduler_->yieldPolicyIs(Keel::neverYield()); break;
      case Mode::alwaysYield: scheduler_->yieldPolicyIs(Keel::alwaysYield()); break;
      case Mode::randomYield: scheduler_->yieldPolicyIs(Keel::seededRandom(seed_, 40)); break;
      case Mode::synchronous: break;
    }
    control_.taskScheduler = scheduler_;
    if (GetParam() == Mode::synchronous) control_.synchronousMode = Flo::SmControl::synchronousModeOn;
  }

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
