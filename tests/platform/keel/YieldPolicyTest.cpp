#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/keel/Task.h"
#include "tests/platform/keel/KeelTestSupport.h"
#include "tests/support/Thrown.h"

namespace Keel::test {
namespace {

// Policies are asked about a task; these tests set the task's work directly.
class YieldPolicyTest : public SchedulerTest {
 protected:
  Mica::Ptr<Task> t_ = Mica::make<Task>(scheduler_, 0, "asked");

  std::vector<bool> answers(YieldPolicy& policy, int n) {
    std::vector<bool> out;
    for (int i = 0; i < n; ++i) out.push_back(policy.shouldYield(*t_));
    return out;
  }
};

// Never and always ignore the work done; a budget yields from the budget on. The task has not
// run since its start at 0: any slice shorter than the clock's reading has passed. 2^61 micros
// is 125 * 2^64 nanos: computed without saturation it wraps to a zero slice.
TEST_F(YieldPolicyTest, AnswersFollowTheWorkDoneTheTimeSliceOrASeed) {
  auto never = neverYield();
  auto always = alwaysYield();
  auto budget = workBudget(5);
  for (const auto& [work, budgetYields] : {std::pair{0, false}, {4, false}, {5, true}, {6, true}, {1'000'000, true}}) {
    t_->taskWorkCountInc(work - static_cast<int>(t_->workDone()));
    EXPECT_FALSE(never->shouldYield(*t_)) << work;
    EXPECT_TRUE(always->shouldYield(*t_)) << work;
    EXPECT_EQ(budget->shouldYield(*t_), budgetYields) << work;
  }
  EXPECT_TRUE(timeSlice(0)->shouldYield(*t_));
  EXPECT_FALSE(timeSlice(uint64_t{1} << 61)->shouldYield(*t_));
  // A seed replays its answers; 0 and 100 percent are never and always.
  const auto fromA = answers(*seededRandom(42, 50), 200);
  EXPECT_EQ(fromA, answers(*seededRandom(42, 50), 200));
  EXPECT_NE(fromA, answers(*seededRandom(43, 50), 200));
  EXPECT_NE(std::count(fromA.begin(), fromA.end(), true), 0);
  EXPECT_NE(std::count(fromA.begin(), fromA.end(), false), 0);
  EXPECT_EQ(answers(*seededRandom(7, 0), 100), std::vector<bool>(100, false));
  EXPECT_EQ(answers(*seededRandom(7, 100), 100), std::vector<bool>(100, true));
  EXPECT_THROW(seededRandom(7, 101), std::invalid_argument);
}

// The budget answers at every question; the slice, read once per 16 units of work of a run,
// makes the run yield once it has lasted the slice even while the budget is far. The scheduler's
// policy is the default budget or slice until another is set, and again once none is.
TEST_F(YieldPolicyTest, BudgetOrSliceYieldsAtWhicheverComesFirstAndIsTheDefault) {
  auto byBudget = budgetOrSlice(5, 1'000'000'000);
  t_->taskWorkCountInc(4);
  EXPECT_EQ(answers(*byBudget, 20), std::vector<bool>(20, false));
  t_->taskWorkCountInc(1);
  EXPECT_EQ(answers(*byBudget, 3), std::vector<bool>(3, true));

  EXPECT_EQ(scheduler_->yieldPolicy().describe(), "budget:1000+slice:2000");
  scheduler_->yieldPolicyIs(budgetOrSlice(1'000'000, 0));
  EXPECT_EQ(scheduler_->yieldPolicy().describe(), "budget:1000000+slice:0");
  std::vector<bool> seen, expected(17, false);
  expected[15] = true;
  auto t = task("sliced", 1, [&] {
    for (int i = 0; i < 17; ++i) {
      scheduler_->currentTask()->taskWorkCountInc(1);
      seen.push_back(scheduler_->currentTask()->taskShouldYield());
    }
  });
  for (int run = 0; run < 2; ++run) {  // the count of work starts again with each run
    seen.clear();
    t->scheduleTask();
    scheduler_->runOne();
    EXPECT_EQ(seen, expected) << "run " << run;
  }
  scheduler_->yieldPolicyIs(nullptr);
  EXPECT_EQ(scheduler_->yieldPolicy().describe(), "budget:1000+slice:2000");
}

TEST(YieldPolicyTextTest, DescribeGivesTheTextThatParsesBackAndErrorsNameTheOffendingText) {
  for (const char* text : {"never", "always", "budget:250", "budget:0", "slice:1500", "budget:1000+slice:2000",
                           "random:42:30", "random:18446744073709551615:100"}) {
    EXPECT_EQ(yieldPolicyFromString(text)->describe(), text);
  }
  EXPECT_EQ(yieldPolicyFromString("random:42")->describe(), "random:42:30");
  for (const char* text :
       {"", "sometimes", "Never", "never ", "budget", "budget:", "budget:-1", "budget:+1",
        "budget:1x", "budget: 1", "budget:99999999999999999999999", "slice:abc", "random:",
        "random::30", "random:1:", "random:1:101", "random:1:2:3", "turbo:5", "budget:1+slice:",
        "budget:1+slice", "budget:1+budget:2", "budget:+slice:5", "slice:5+budget:1"}) {
    const std::string error = IeTest::thrownText<std::invalid_argument>([&] { yieldPolicyFromString(text); });
    EXPECT_NE(error.find("\"" + std::string(text) + "\""), std::string::npos) << text << ": " << error;
  }
  EXPECT_EQ(IeTest::thrownText<std::invalid_argument>([] { yieldPolicyFromString("sometimes"); }),
            "invalid yield policy \"sometimes\": expected never, always, budget:N, "
            "slice:MICROS, budget:N+slice:MICROS or random:SEED[:PERCENT]");
}

}  // namespace
}  // namespace Keel::test
