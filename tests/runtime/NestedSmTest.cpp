// The mechanism on a nested input path (root.mids[].leaves[].value) and a nested output
// (out.mids[].values), under every scheduling mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/mica/Assert.h"
#include "platform/trace/Trace.h"
#include "tests/runtime/TestSm.h"
#include "tests/support/SmTestSupport.h"
#include "tests/support/Thrown.h"

namespace RtTest {
namespace {

using IeTest::Mode;
using Log = std::vector<std::string>;

constexpr const char* kHandler = "NestedTestSm";

bool hasLine(const Mica::TraceCapture& capture, int level, const std::string& text) {
  const auto& lines = capture.lines();
  return std::any_of(lines.begin(), lines.end(),
                     [&](const auto& l) { return l.handler == kHandler && l.level == level && l.text == text; });
}

class NestedSmTest : public IeTest::ModeFixture {
 protected:
  NestedSmTest() { control_.debugTraceName = kHandler; }

  Mica::Ptr<NestedTestSm> create() {
    Mica::Ptr<NestedTestSm> sm(new NestedTestSm(root_, out_, control()));
    sm->handleInitialized();
    return sm;
  }
  Mica::Ptr<NestedTestSm> start() {
    auto sm = create();
    runUntilIdle();
    return sm;
  }
  // Mids 1..mids, each with leaves 1..leaves holding mid * 100 + leaf.
  void build(int mids, int leaves) {
    for (int m = 1; m <= mids; ++m) {
      auto mid = root_->midsIs(m);
      for (int l = 1; l <= leaves; ++l) mid->leafIs(l, m * 100 + l);
    }
  }
  bool sync() const { return GetParam() == Mode::synchronous; }

  Mica::Ptr<Root> root_ = Mica::make<Root>();
  Mica::Ptr<OutRoot> out_ = Mica::make<OutRoot>();
};

TEST_P(NestedSmTest, NestedScanResumesAtBothBookmarksVisitingEachKeyOnceAndRetractionsAreChecked) {
  build(3, 4);
  IeTest::TraceCaptureAt capture(kHandler, kSmLevels);
  auto sm = start();
  ASSERT_TRUE(sm->ready());
  // The second pass runs each pipeline exactly once per element, however often it yielded.
  EXPECT_EQ(sm->leafEvents.size(), 12u);
  for (const auto& [key, runs] : sm->leafEvents) EXPECT_EQ(runs, 1) << "mid " << key.first << " leaf " << key.second;
  EXPECT_EQ(sm->midEvents, (std::map<int, int>{{1, 1}, {2, 1}, {3, 1}}));
  if (GetParam() == Mode::alwaysYield) {
    // The nested SM of mid 1 yields after its first leaf; the top level then yields at mid 1.
    EXPECT_TRUE(hasLine(capture, 8, "1  yielding after 1 iterations (4 total items)"));
    EXPECT_TRUE(hasLine(capture, 8, " child yielding after 0 iterations (3 total items)"));
    EXPECT_TRUE(hasLine(capture, 8, "  yielding after 1 iterations (3 total items)"));
  }
  if (GetParam() == Mode::neverYield || sync()) {
    for (const auto& line : capture.lines()) {
      EXPECT_EQ(line.text.find(" yielding after "), std::string::npos) << line.text;
    }
    EXPECT_TRUE(hasLine(capture, 9, "MidSm1 initial scan complete. Processed 4 children."));
    EXPECT_TRUE(hasLine(capture, 9, "MidSm1 scan complete. Processed 4 children."));
  }
  // doDeleteAll retracts through every source: each value, then each container.
  auto values1 = changeLog(out_->mids.get(1));
  sm->doDeleteAll();
  EXPECT_EQ(values1.events, (Log{"-101", "-102", "-103", "-104"}));
  EXPECT_TRUE(out_->mids.empty());
  // A notification missed below a mid is found when the mid goes.
  sm->hasNotificationActiveIs(false);
  root_->mids.get(2)->leaves.get(1)->valueIs(999);
  sm->hasNotificationActiveIs(true);
  EXPECT_EQ(IeTest::thrownText<Mica::AssertionError>([&] { root_->mids.erase(*root_, 2); }),
            "We missed notifications that happened to value before the enclosing entity got deleted");
}

TEST_P(NestedSmTest, NestedOutputReconcilesWithoutTouchingValidEntries) {
  root_->midsIs(1)->leafIs(1, 101);
  root_->mids.get(1)->leafIs(2, 102);
  root_->midsIs(2)->leafIs(1, 201);
  root_->midsIs(3);  // exists, but no leaf produces a value in it
  // Left by an earlier run: valid 101 and 102, stale 199, stale 301, a stale container 7.
  auto out1 = out_->midsIs(1);
  for (int v : {101, 102, 199}) out1->valuesIs(v);
  auto out3 = out_->midsIs(3);
  out3->valuesIs(301);
  out_->midsIs(7)->valuesIs(701);
  auto mids = changeLog(out_), values1 = changeLog(out1), values3 = changeLog(out3);

  IeTest::TraceCaptureAt capture(kHandler, kSmLevels);
  auto sm = start();
  ASSERT_TRUE(sm->ready());
  EXPECT_EQ(contentsOf(*out_), (Contents{{1, {101, 102}}, {2, {201}}, {3, {}}}));
  EXPECT_EQ(mids.events, (Log{"+2", "-7"}));
  EXPECT_EQ(values1.events, Log{"-199"});
  EXPECT_EQ(values3.events, Log{"-301"});

  EXPECT_TRUE(hasLine(capture, 9, "Reconciling outMidsOutput: true"));
  EXPECT_TRUE(hasLine(capture, 9, "Reconciling outMidValuesOutput: true"));
  // The nested walk visits 101, 102, 199 | 201 | 301 and deletes 199 and 301. Under neverYield the
  // first entry is processed in the scan task's run, which then hands over.
  if (GetParam() == Mode::randomYield) return;
  const bool always = GetParam() == Mode::alwaysYield;
  EXPECT_TRUE(hasLine(capture, 9, fmt::format("Deletion scan for reconciliation is done, last task run processed {} "
                                              "items, deleting {} items.", sync() ? 5 : always ? 1 : 4, always ? 1 : 2)));
  EXPECT_EQ(hasLine(capture, 8, fmt::format("Yielding in reconciliation processing after processing 1 items, "
                                            "including {} deletions .", always ? 1 : 0)), !sync());
}

// A container first visited behind the deletion walk is walked late. What was seen in it can
// join a run that reaches past the walk's place: the walk must keep that run until the late
// container has been walked, or the late container's valid entry is deleted.
TEST_P(NestedSmTest, AContainerVisitedBehindTheWalkKeepsWhatWasSeenInIt) {
  if (GetParam() != Mode::alwaysYield) GTEST_SKIP() << "needs the walk to stop after each entry";
  root_->midsIs(1)->leafIs(1, 101);
  root_->midsIs(3)->leafIs(1, 301);
  root_->mids.get(3)->leafIs(2, 302);
  out_->midsIs(1)->valuesIs(101);
  auto out3 = out_->midsIs(3);
  for (int v : {300, 301, 302}) out3->valuesIs(v);  // 300 is stale
  auto values3 = changeLog(out3);

  auto sm = create();
  // Until the walk has deleted 300: it stands at 301, past where mid 2 will be.
  for (int runs = 0; values3.events.empty(); ++runs) {
    ASSERT_LT(runs, 1000) << "the walk never reached mid 3";
    ASSERT_TRUE(scheduler().runOne());
  }
  ASSERT_EQ(values3.events, Log{"-300"});
  root_->midsIs(2)->leafIs(1, 201);
  runUntilIdle();
  ASSERT_TRUE(sm->ready());
  EXPECT_EQ(contentsOf(*out_), (Contents{{1, {101}}, {2, {201}}, {3, {301, 302}}}));
}

// Destroyed while it starts (synchronous mode: once started), holding the only reference to its
// input: it releases the root while unsubscribing from it, and drops its tasks.
TEST_P(NestedSmTest, DestructionDropsItsTasksAndMayReleaseTheLastReferenceToItsInput) {
  build(3, 3);
  auto sm = create();
  Mica::Ptr<Mid> mid1 = root_->mids.get(1);
  Mica::Ptr<Leaf> leaf11 = mid1->leaves.get(1);
  root_ = nullptr;
  sm = nullptr;
  EXPECT_TRUE(scheduler().idle());
  EXPECT_EQ(runUntilIdle(), 0u);
  EXPECT_EQ(mid1->publisher().subscriberCount(), 0u);
  leaf11->valueIs(1);  // nobody listens any more
}

TEST_P(NestedSmTest, ResubscribingAfterAScanDeliversEachChangeOnce) {
  if (sync()) GTEST_SKIP() << "no scan runs after the factory returns in synchronous mode";
  build(2, 2);
  auto sm = create();
  while (!sm->initialScanDone()) ASSERT_TRUE(scheduler().runOne());
  // The second pass meets a mid that appeared while notifications were off and subscribes to it.
  sm->hasNotificationActiveIs(false);
  auto leaf91 = root_->midsIs(9)->leafIs(1, 901);
  runUntilIdle();
  EXPECT_EQ(sm->leafEvents[std::make_pair(9, 1)], 1);
  sm->hasNotificationActiveIs(true);
  sm->leafEvents.clear();
  leaf91->valueIs(902);
  EXPECT_EQ(sm->leafEvents[std::make_pair(9, 1)], 1);
  // Nested elements are followed through the root's one subscription, none of their own.
  EXPECT_EQ(leaf91->publisher().subscriberCount(), 0u);
  EXPECT_EQ(root_->publisher().subscriberCount(), 1u);
  sm = nullptr;
  EXPECT_EQ(root_->publisher().subscriberCount(), 0u);
  leaf91->valueIs(903);
}

INSTANTIATE_TEST_SUITE_P(Modes, NestedSmTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace RtTest
