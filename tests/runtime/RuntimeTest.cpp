// The mechanism's start-up, task names, traces and failures, on IePolicyToVniLaneSm (one input
// collection, one top-level output; IeExitGroupStatusSm for more arguments), under every
// scheduling mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Orb/OrbInternetExitStatusSm/IeExitGroupStatusSm.h"
#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"
#include "platform/mica/Assert.h"
#include "platform/trace/Trace.h"
#include "tests/runtime/TestSm.h"
#include "tests/support/SmTestSupport.h"
#include "tests/support/Thrown.h"

namespace OrbInternetExit {
namespace {

using IeTest::Mode;
using Texts = std::vector<std::string>;

constexpr const char* kHandler = "OrbInternetExitStatusSm";
constexpr const char* kScanTask = "OrbInternetExit::IePolicyToVniLaneSm-LaneStatusDirSm0InputScanTask0";
constexpr const char* kOutputTask = "IePolicyToVniLaneSm-iePolicyToVniLaneDirPolToVniLaneOutputTask";

using IeTest::pair;

struct TaskNames final : Keel::TaskRunObserver {
  void taskRan(const Keel::Task& task, uint64_t, uint64_t, uint64_t) override { names.push_back(task.taskName()); }
  Texts names;
};

// Whether `wanted` occurs in `texts` in this order (other texts may lie between).
bool inOrder(const Texts& texts, const Texts& wanted) {
  auto it = texts.begin();
  for (const auto& w : wanted) {
    it = std::find(it, texts.end(), w);
    if (it == texts.end()) return false;
    ++it;
  }
  return true;
}

class RuntimeTest : public IeTest::ModeFixture {
 protected:
  Mica::Ptr<IePolicyToVniLaneSm> start() {
    auto sm = iePolicyToVniLaneSmFactory(lanes_, dir_, control());
    runUntilIdle();
    return sm;
  }
  // Three bindings; with `stale`, the output also holds them and, first in order, a stale key.
  void bindThree(bool stale) {
    if (stale) dir_->polToVniLaneIs(PolicyVniLaneKey("P", pair(0, 9)));
    for (const auto& [lane, policy] : {std::pair{1, "P"}, {2, "P"}, {3, "Q"}}) {
      lanes_->laneToIEMapIs(pair(1, lane), policy);
      if (stale) dir_->polToVniLaneIs(PolicyVniLaneKey(policy, pair(1, lane)));
    }
  }
  bool sync() const { return GetParam() == Mode::synchronous; }

  Mica::Ptr<Lane::LaneStatusDir> lanes_ = Mica::make<Lane::LaneStatusDir>();
  Mica::Ptr<IePolicyToVniLaneDir> dir_ = Mica::make<IePolicyToVniLaneDir>();
};

TEST_P(RuntimeTest, StartUpRunsExactlyNamedTasksAndWritesTheMechanismTextsInOrder) {
  bindThree(/*stale=*/true);
  TaskNames observer;
  scheduler().runObserverIs(&observer);
  IeTest::TraceCaptureAt capture(kHandler, RtTest::kSmLevels);
  auto sm = start();
  scheduler().runObserverIs(nullptr);
  ASSERT_TRUE(sm->ready());
  // Each task runs once at its creation, before anything else.
  const Texts names = sync() ? Texts{} : Texts{kOutputTask, kScanTask};
  EXPECT_EQ(Texts(observer.names.begin(), observer.names.begin() + std::min<size_t>(2, observer.names.size())), names);
  EXPECT_EQ(std::set<std::string>(observer.names.begin(), observer.names.end()),
            std::set<std::string>(names.begin(), names.end()));
  EXPECT_EQ(sm->output(0).taskName(), kOutputTask);
  // Completed scans and reconciliations drop their tasks.
  EXPECT_EQ(sm->input(0).source(0).task(), nullptr);
  EXPECT_EQ(sm->output(0).reconciliationTask(), nullptr);

  const Texts progress = IeTest::textsOf(capture, kHandler, 9);
  EXPECT_TRUE(inOrder(progress, {"Reconciling iePolicyToVniLaneDirPolToVniLaneOutput: true", "create local SMs",
                                 "create non-public arg SMs", "initialized",
                                 "Initial scan done for child SMs. Now scanning with events triggered.",
                                 "Input scans for iePolicyToVniLaneDirPolToVniLaneOutput complete"}));
  // A pass traces its completion after setting its scan flag, whose effects come first.
  const char* initialDone = "LaneStatusDirSm0 initial scan, and parent scan, complete.";
  EXPECT_EQ(std::count(progress.begin(), progress.end(), initialDone), 1);
  EXPECT_TRUE(inOrder(progress, {"create non-public arg SMs", initialDone,
                                 "LaneStatusDirSm0 scan, and parent scan, complete."}));
  EXPECT_TRUE(inOrder(progress, {"Initial scan done for child SMs. Now scanning with events triggered.",
                                 "LaneStatusDirSm0 scan, and parent scan, complete."}));
  // Only a synchronous start re-enters the readiness check once the output is ready.
  EXPECT_EQ(std::count(progress.begin(), progress.end(), " already ready, not reconciling."), sync() ? 1 : 0);
}

// A null mandatory argument: the message names its accessor, then the fixed text, and nothing is
// left behind (no queued task, no subscriber). Then doDeleteAll after missed notifications.
TEST_P(RuntimeTest, BrokenPreconditionsAreAssertionsWithTheirExactTexts) {
  Mica::Ptr<IeStatusConfigDir> config(new IeStatusConfigDir());
  Mica::Ptr<IeExitOptionDir> options(new IeExitOptionDir());
  Mica::Ptr<IeExitGroupDir> groups(new IeExitGroupDir());
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { iePolicyToVniLaneSmFactory(nullptr, dir_, control()); }, "laneStatusDir()"},
      {[&] { iePolicyToVniLaneSmFactory(lanes_, nullptr, control()); }, "iePolicyToVniLaneDir()"},
      {[&] { ieExitGroupStatusSmFactory(nullptr, options, groups, control()); }, "config()"},
      {[&] { ieExitGroupStatusSmFactory(config, nullptr, groups, control()); }, "exitOptionDir()"},
      {[&] { ieExitGroupStatusSmFactory(config, options, nullptr, control()); }, "exitGroupDir()"},
  };
  for (const auto& [factory, accessor] : cases) {
    EXPECT_EQ(IeTest::thrownText<Mica::AssertionError>(factory),
              accessor + " Pointer SM args cannot be null unless they are marked Optional");
  }
  EXPECT_TRUE(scheduler().idle());
  EXPECT_EQ(lanes_->publisher().subscriberCount(), 0u);
  EXPECT_EQ(options->publisher().subscriberCount(), 0u);

  bindThree(/*stale=*/false);
  auto sm = start();
  sm->hasNotificationActiveIs(false);
  lanes_->laneToIEMapIs(pair(1, 1), "X");
  EXPECT_TRUE(dir_->polToVniLane.contains(PolicyVniLaneKey("P", pair(1, 1))));
  sm->hasNotificationActiveIs(true);
  EXPECT_EQ(IeTest::thrownText<Mica::AssertionError>([&] { sm->doDeleteAll(); }),
            "We missed notifications that happened to laneToIEMap before the enclosing entity got deleted");
}

INSTANTIATE_TEST_SUITE_P(Modes, RuntimeTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
