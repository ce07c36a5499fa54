// IeStatusConfigSm's index walks under a work budget: one configuration element bound to many
// pairs fans out over every one of them, and the second passes at bring-up and at restart cut
// that fan-out between two pairs and resume at the next pair on a later run. (A restart over a
// rebound pair, and the order the outputs reconcile in, are the scenarios' and the golden trace
// status_config_restart's.)
#include "Orb/OrbInternetExitStatusSm/IeStatusConfigSm.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/trace/Trace.h"
#include "tests/support/SmTestSupport.h"
#include "tests/support/TraceLevels.h"

namespace OrbInternetExit {
namespace {

using IeTest::pair;

ExitKey localOption(const char* name) { return ExitKey(name, ExitType::localExit()); }

// The status configuration, one fact per line, so that a mismatch reads as a diff.
std::string describe(const IeStatusConfigDir& dir) {
  std::string out;
  for (const auto& [v, statusCfg] : dir.statusConfig) {
    out += fmt::format("pair {}\n", v);
    for (const auto& [polKey, policy] : statusCfg->policyStatusConfig) {
      out += fmt::format("  policy {}\n", polKey);
      for (const auto& [seqNo, entry] : policy->exitGroup) out += fmt::format("    {} -> {}\n", seqNo, entry->exitGroup.get());
    }
    for (const auto& [grpKey, group] : statusCfg->exitGroupStatusConfig) {
      out += fmt::format("  group {}\n", grpKey);
      for (const ExitVniLaneKey& k : group->exitOption) out += fmt::format("    option {}\n", k);
    }
  }
  return out;
}

// One builder over its own inputs, output and scheduler, tracing to its own handler with
// `levels` (levels 6 and 9 on make it walk whole collections instead of its indexes). Agents
// driven by the same steps compare schedules and walks.
class Agent {
 public:
  Agent(std::unique_ptr<Keel::YieldPolicy> policy, const char* traceName, uint32_t levels)
      : levels_(traceName, levels), scheduler_(new Keel::TaskScheduler()) {
    scheduler_->yieldPolicyIs(std::move(policy));
    control_.taskScheduler = scheduler_;
    control_.debugTraceName = traceName;
  }
  ~Agent() { scheduler_->runObserverIs(nullptr); }

  void runObserverIs(Keel::TaskRunObserver* observer) { scheduler_->runObserverIs(observer); }
  void start() { sm = ieStatusConfigSmFactory(config, bindings, dir, control_); }
  void stop() { sm = nullptr; }
  void runOne() { scheduler_->runOne(); }
  void runUntilIdle() { scheduler_->runUntilIdle(); }
  std::string output() const { return describe(*dir); }

  Mica::Ptr<InternetExitCliConfig> config{new InternetExitCliConfig()};
  Mica::Ptr<IePolicyToVniLaneDir> bindings{new IePolicyToVniLaneDir()};
  Mica::Ptr<IeStatusConfigDir> dir{new IeStatusConfigDir()};
  Mica::Ptr<IeStatusConfigSm> sm;

 private:
  IeTest::TraceLevels levels_;
  Mica::Ptr<Keel::TaskScheduler> scheduler_;
  Flo::SmControl control_;
};

constexpr const char* kEntryScan = "OrbInternetExit::IeStatusConfigSm-ConfigSm1InputScanTask3";
constexpr const char* kOptionScan = "OrbInternetExit::IeStatusConfigSm-ConfigSm1InputScanTask4";
// Written by flo_pipeline0 only (flo_pipeline1's text has no exitKeyOpt), that is once per
// pair that an option change's walk reaches.
constexpr const char* kOptionWalkStep = "Line 194: merge( updateExitGroupStatus ): vniLaneId=";
constexpr const char* kOptionWalkOnly = " exitKeyOpt=";
bool isOptionWalkStep(const std::string& text, const std::string& prefix) {
  return text.starts_with(prefix) && text.find(kOptionWalkOnly) != std::string::npos;
}

// The work of each task's runs, in units: the longest run and the number of runs.
struct RunsByTask final : Keel::TaskRunObserver {
  void taskRan(const Keel::Task& task, uint64_t, uint64_t, uint64_t workDone) override {
    uint64_t& most = longest[task.taskName()];
    most = std::max(most, workDone);
    ++count[task.taskName()];
  }
  std::map<std::string, uint64_t> longest;
  std::map<std::string, uint64_t> count;
};

// Policy P names group G, policy Q names G and H; each group has two options. P is bound to
// pairs (1, 1..kPairs), Q to (2, 1..kPairs), and both to (3, 1): G's options fan out over
// 2 * kPairs + 1 pairs, through two index entries that share a pair.
constexpr int kPairs = 150;
void configure(Agent& a) {
  a.config->exitGroupConfigIs("G")->exitOptionIs(localOption("wan1"));
  a.config->exitGroupConfigIs("G")->exitOptionIs(localOption("wan2"));
  a.config->exitGroupConfigIs("H")->exitOptionIs(localOption("wan3"));
  a.config->exitGroupConfigIs("H")->exitOptionIs(localOption("wan4"));
  a.config->policyConfigIs("P")->exitGroupIs(10, "G");
  a.config->policyConfigIs("Q")->exitGroupIs(10, "G");
  a.config->policyConfigIs("Q")->exitGroupIs(20, "H");
  for (int lane = 1; lane <= kPairs; ++lane) {
    a.bindings->polToVniLaneIs(PolicyVniLaneKey("P", pair(1, lane)));
    a.bindings->polToVniLaneIs(PolicyVniLaneKey("Q", pair(2, lane)));
  }
  a.bindings->polToVniLaneIs(PolicyVniLaneKey("P", pair(3, 1)));
  a.bindings->polToVniLaneIs(PolicyVniLaneKey("Q", pair(3, 1)));
}

constexpr const char* kBudgeted = "IeStatusConfigSmWalkTestBudgeted";
constexpr const char* kUnbounded = "IeStatusConfigSmWalkTestUnbounded";
constexpr const char* kWalkTraceHandler = "IeStatusConfigSmWalkTestFullWalk";
constexpr uint32_t kPipeline = 1u << Flo::kLevelPipeline;
constexpr uint32_t kWalkTraceLevels = (1u << Flo::kLevelFilter) | kPipeline | (1u << Flo::kLevelProgress);

std::vector<std::string> textsOf(const Mica::TraceCapture& capture, const char* handler) {
  return IeTest::textsOf(capture, handler, Flo::kLevelPipeline);
}
using IeTest::sorted;
// The option walks' steps among `texts` whose text starts with `prefix`.
size_t stepsOf(const std::vector<std::string>& texts, const std::string& prefix = kOptionWalkStep) {
  return static_cast<size_t>(
      std::count_if(texts.begin(), texts.end(), [&](const std::string& t) { return isOptionWalkStep(t, prefix); }));
}

// At bring-up and at restart no run of any task does more work than the budget plus one
// element: a scan's element with the writes for one pair (the pair, its policy entry, its group,
// the group's two options, and the element itself). At restart the walks are cut inside one
// configuration element (the option scan runs more often than it has elements). At
// bring-up and at a restart the outputs are those of the unbounded run and of the full walk,
// and at restart every pipeline write of those is made, each once.
TEST(IeStatusConfigSmWalkTest, NoTaskRunExceedsTheBudgetByMoreThanOneElement) {
  constexpr uint64_t kBudget = 16;
  constexpr uint64_t kOneElement = 6;
  constexpr uint64_t kOptionElements = 4;
  Mica::ThrowingAssertions throwing;
  Mica::TraceCapture capture;
  Agent budgeted(Keel::workBudget(kBudget), kBudgeted, kPipeline);
  RunsByTask runs;
  budgeted.runObserverIs(&runs);
  Agent unbounded(Keel::neverYield(), kUnbounded, kPipeline);
  Agent fullWalk(Keel::neverYield(), kWalkTraceHandler, kWalkTraceLevels);
  Agent* const agents[] = {&budgeted, &unbounded, &fullWalk};
  for (Agent* a : agents) configure(*a);

  for (const char* phase : {"bring-up", "restart"}) {
    SCOPED_TRACE(phase);
    capture.clear();
    runs = RunsByTask();
    for (Agent* a : agents) {
      a->stop();
      a->start();
      a->runUntilIdle();
      ASSERT_TRUE(a->sm->ready());
    }
    for (const auto& [task, longest] : runs.longest) {
      EXPECT_LE(longest, kBudget + kOneElement) << task;
    }
    // At restart every pair is in the output when the configuration's second passes walk it:
    // each walk is cut inside one configuration element. (At bring-up those passes find few.)
    if (std::string_view(phase) == "restart") {
      EXPECT_GT(runs.count[kOptionScan], kOptionElements + 1);
      EXPECT_GT(runs.count[kEntryScan], 3u);
    }
    EXPECT_EQ(budgeted.output(), unbounded.output());
    EXPECT_EQ(budgeted.output(), fullWalk.output());
    // At bring-up which pipeline gives a pair its options depends on the order the scans meet
    // it in; at restart every pair is there for every walk, and the writes are the same.
    if (std::string_view(phase) == "restart") {
      const auto budgetedTexts = textsOf(capture, kBudgeted);
      EXPECT_EQ(sorted(budgetedTexts), sorted(textsOf(capture, kUnbounded)));
      EXPECT_EQ(sorted(budgetedTexts), sorted(textsOf(capture, kWalkTraceHandler)));
      // Each option of G reaches every pair of P and Q, pair (3, 1) once per entry naming G;
      // each option of H reaches the pairs of Q.
      EXPECT_EQ(stepsOf(budgetedTexts), 2 * (2 * kPairs + 2) + 2 * (kPairs + 1));
    }
  }
}

// A walk cut by the budget resumes after the pair it was cut at, over the bindings
// as they are then: pairs unbound or bound behind and ahead of the bookmark between two runs
// of the walk leave the output the unbounded run gives, and at restart every pair bound
// throughout is reached once by each option of its policies' groups.
TEST(IeStatusConfigSmWalkTest, AWalkCutMidwayResumesAtTheRightPair) {
  Mica::ThrowingAssertions throwing;
  for (const bool restart : {false, true}) {
    SCOPED_TRACE(restart ? "restart" : "bring-up");
    Mica::TraceCapture capture;
    Agent budgeted(Keel::alwaysYield(), kBudgeted, kPipeline);
    Agent unbounded(Keel::neverYield(), kUnbounded, kPipeline);
    Agent* const agents[] = {&budgeted, &unbounded};
    for (Agent* a : agents) {
      configure(*a);
      if (restart) {
        a->start();
        a->runUntilIdle();
        a->stop();
      }
    }
    capture.clear();
    budgeted.start();
    // Run until G's first option has reached some pairs of P, but not all of them.
    size_t reached = 0;
    for (size_t runs = 0, lines = 0; runs < 100000 && reached < kPairs / 3; ++runs) {
      budgeted.runOne();
      for (; lines < capture.lines().size(); ++lines) {
        const auto& line = capture.lines()[lines];
        reached += line.handler == kBudgeted && isOptionWalkStep(line.text, kOptionWalkStep);
      }
    }
    ASSERT_GE(reached, static_cast<size_t>(kPairs / 3));
    ASSERT_FALSE(budgeted.sm->ready());
    unbounded.start();
    unbounded.runUntilIdle();

    const PolicyVniLaneKey behind("P", pair(1, 2)), ahead("P", pair(1, kPairs - 1));
    const PolicyVniLaneKey newBehind("P", pair(0, 7)), newAhead("P", pair(1, kPairs + 1));
    for (Agent* a : agents) {
      a->bindings->polToVniLaneDel(behind);
      a->bindings->polToVniLaneDel(ahead);
      a->bindings->polToVniLaneIs(newBehind);
      a->bindings->polToVniLaneIs(newAhead);
      a->runUntilIdle();
      ASSERT_TRUE(a->sm->ready());
    }
    EXPECT_EQ(budgeted.output(), unbounded.output());
    // At restart every pair exists when the walks reach it: pair (1, 3), bound to P throughout,
    // is reached once by each of G's two options.
    if (restart) {
      const std::string step = std::string(kOptionWalkStep) + fmt::format("{} ", pair(1, 3));
      EXPECT_EQ(stepsOf(textsOf(capture, kBudgeted), step), 2u);
    }
  }
}

}  // namespace
}  // namespace OrbInternetExit
