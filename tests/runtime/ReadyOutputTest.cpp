// An output without reconciliation (NestedTestSm's dummyOutput): it becomes ready once its scans
// are done and the outputs declared before it are reconciled, deletes nothing, and traces the
// readiness steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/runtime/TestSm.h"
#include "tests/support/SmTestSupport.h"
#include "tests/support/TreeLog.h"

namespace RtTest {
namespace {

using Texts = std::vector<std::string>;

class ReadyOutputTest : public IeTest::ModeFixture {};

TEST_P(ReadyOutputTest, GetsReadyAfterTheReconciledOutputsAndDeletesNothing) {
  Mica::Ptr<Root> root(new Root());
  for (int m = 1; m <= 4; ++m) root->midsIs(m);
  Mica::Ptr<OutRoot> out(new OutRoot());
  out->midsIs(9);  // stale: an output before dummyOutput has something to delete
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, 1u << Flo::kLevelProgress);

  Mica::Ptr<NestedTestSm> sm(new NestedTestSm(root, out, control()));
  // The order in which the output state's flags turn true.
  IeTest::TreeLog log(Mica::Ptr<const Mica::Entity>(&sm->outputState()),
                      [state = &sm->outputState()](const Mica::Entity&, Mica::AttrId attr, const void*, const void*) {
                        return attr == Flo::OutputState::readyAttr ? std::string("ready") : std::string(state->name(attr));
                      });
  sm->handleInitialized();
  if (GetParam() != IeTest::Mode::synchronous) {
    EXPECT_FALSE(sm->dummyOutput->ready());
    runUntilIdle();
  }
  ASSERT_TRUE(sm->ready());
  EXPECT_EQ(contentsOf(*out), (Contents{{1, {}}, {2, {}}, {3, {}}, {4, {}}}));
  EXPECT_EQ(log.events, (Texts{"outMidsOutputReady", "outMidValuesOutputReady", "dummyOutputReady", "ready"}));

  const Texts texts = capture.texts(Flo::kLevelProgress);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Input scans for dummyOutput complete"), 1);
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& t) { return t.starts_with("Deletion scan for reconciliation"); }),
            2);  // the two reconciled outputs', none of dummyOutput's

  capture.clear();
  sm->dummyOutput->handleInputReady();
  EXPECT_EQ(capture.texts(), (Texts{"NestedTestSm handledummyOutputInputReady", " already ready, not reconciling."}));
}

INSTANTIATE_TEST_SUITE_P(Modes, ReadyOutputTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace RtTest
