// Flo::SmControl: how a state machine runs, passed by value to every factory.
#pragma once

#include <cstdint>

#include "platform/keel/Task.h"
#include "platform/mica/String.h"
#include "platform/trace/Blip.h"

namespace Flo {

struct SmControl {
  // Scheduler of every task of the state machine; null means the root scheduler.
  Mica::Ptr<Keel::TaskScheduler> taskScheduler;
  // Blip output; null is replaced by the process default handle at initialization.
  Blip::TraceHandle* qtHandle = nullptr;
  // Debug trace handler name; empty means "OrbInternetExitStatusSm".
  Mica::String debugTraceName;
  // Priority of every task the state machine creates.
  Keel::TaskPriority taskPriority = 0;
  // 0: the state machine's default (asynchronous); 1: synchronous; 2: asynchronous.
  uint8_t synchronousMode = 0;

  static constexpr uint8_t defaultMode = 0;
  static constexpr uint8_t synchronousModeOn = 1;
  static constexpr uint8_t asynchronousMode = 2;
};

}  // namespace Flo
