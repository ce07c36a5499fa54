// The simulated agent: the entities a scenario drives, the scheduler, the state machine, and
// logs of what happened to the output and which tasks ran.
//
// The World owns one lane status (input), one IePolicyToVniLaneDir (output, kept across
// restarts) and a fresh scheduler that it also installs as the root scheduler. It watches the
// output with a Mica::Subscriber and the scheduler with a Keel::TaskRunObserver, so that each
// step can report the changes and task runs it caused. The logs are read and cleared by the
// runner once per step.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"
#include "platform/agents/LaneStatusDir.h"
#include "platform/keel/Task.h"
#include "types/IePolicyToVniLaneDir.h"

namespace IeSim {

class ChromeTrace;

// One change of polToVniLane, in the order of the notifications.
struct OutputChange {
  bool added;
  OrbInternetExit::PolicyVniLaneKey key;
};

// The runs of one task during a step.
struct TaskRuns {
  std::string task;
  uint64_t firstStartNanos = 0;
  uint64_t runs = 0;
  uint64_t work = 0;
};

class World final : private Mica::Subscriber, private Keel::TaskRunObserver {
 public:
  // `defaultYield`: the yield policy text of runs that name none ("" for the scheduler's own
  // default); it must parse. `chrome` (may be null) receives every task run.
  World(std::string defaultYield, ChromeTrace* chrome);
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  Lane::LaneStatusDir& lanes() noexcept { return *lanes_; }
  OrbInternetExit::IePolicyToVniLaneDir& output() noexcept { return *output_; }
  Keel::TaskScheduler& scheduler() noexcept { return *scheduler_; }

  // Destroys the state machine, if any (its output stays as it is), and creates a new one.
  void startSm(bool synchronous);
  bool hasSm() const noexcept { return static_cast<bool>(sm_); }
  bool smReady() const noexcept { return sm_ && sm_->ready(); }
  bool smIdle() const noexcept { return sm_ && sm_->idle(); }
  // "ready, idle", "not ready", "none", with the number of queued tasks when there are any.
  std::string smState() const;

  // Installs the policy `text` ("" for the default), until restoreYield().
  void yieldIs(const std::string& text);
  void restoreYield();
  std::string yieldText() const { return scheduler_->yieldPolicy().describe(); }

  // The step that following task runs belong to (for the Chrome trace).
  void stepIs(size_t step) noexcept { step_ = step; }
  // Whether changes of the output count in addedCount()/removedCount() (off for direct writes).
  void countChangesIs(bool on) noexcept { countChanges_ = on; }

  std::vector<OutputChange> takeChanges() { return std::exchange(changes_, {}); }
  // The tasks that ran since the last call, by the start of their first run.
  std::vector<TaskRuns> takeRuns();
  uint64_t addedCount() const noexcept { return added_; }
  uint64_t removedCount() const noexcept { return removed_; }
  void resetCounts() noexcept { added_ = removed_ = 0; }

 private:
  void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override;
  void taskRan(const Keel::Task& task, uint64_t startNanos, uint64_t durationNanos,
               uint64_t workDone) override;

  std::string defaultYield_;
  ChromeTrace* chrome_;
  Mica::Ptr<Keel::TaskScheduler> scheduler_;
  Mica::Ptr<Lane::LaneStatusDir> lanes_;
  Mica::Ptr<OrbInternetExit::IePolicyToVniLaneDir> output_;
  Mica::Ptr<OrbInternetExit::IePolicyToVniLaneSm> sm_;  // last: destroyed first
  std::vector<OutputChange> changes_;
  std::vector<TaskRuns> runs_;
  uint64_t added_ = 0;
  uint64_t removed_ = 0;
  size_t step_ = 0;
  bool countChanges_ = true;
};

}  // namespace IeSim
