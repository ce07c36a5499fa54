// An output without reconciliation: it becomes ready once its scans are done and the outputs
// declared before it are reconciled, deletes nothing, and traces the readiness steps.
#include "runtime/ReadyOutput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/runtime/TestSm.h"
#include "tests/support/SmTestSupport.h"

namespace RtTest {
namespace {

using Texts = std::vector<std::string>;

// root.mids[] ──> evalMid ──> out.mids[ midKey ] (reconciled); dummyOutput waits for evalMid too.
class FlagSm final : public Flo::StateMachine {
 public:
  FlagSm(const Mica::Ptr<const Root>& root, const Mica::Ptr<OutRoot>& out, const Flo::SmControl& control);

  void eventToEvalMid(const int& midKey, const Quill::Optional<Mica::Ptr<const Mid>>& midOpt) {
    if (!initialScanDone()) return;
    midsOutput_->seen(midKey);
    if (midOpt) {
      out_->midsIs(midKey);
    } else {
      out_->midsDel(midKey);
    }
  }

  Flo::ReadyOutput* dummyOutput = nullptr;

 private:
  struct MidsSpec : Flo::CollOutputSpec<OutRoot, &OutRoot::mids, &OutRoot::midsDel> {};
  Mica::Ptr<const Root> root_;
  Mica::Ptr<OutRoot> out_;
  Flo::TopOutput<MidsSpec>* midsOutput_ = nullptr;
};

using MidPath = Flo::Path<FlagSm, &FlagSm::eventToEvalMid, Flo::Level<&Root::mids, "RootSm0", "mids">>;

FlagSm::FlagSm(const Mica::Ptr<const Root>& root, const Mica::Ptr<OutRoot>& out, const Flo::SmControl& control)
    : StateMachine("RtTest", "FlagSm", control), root_(root), out_(out) {
  argIs("root()", root_.get());
  argIs("out()", out_.get());
  const size_t evalMid = pipelineIs("evalMid");
  auto& rootSm0 = inputIs(std::make_unique<Flo::InputArgSm<Root>>(*this, "RootSm0", root_));
  rootSm0.sourceIs<Flo::internal::TopLevel<MidPath>>(0, evalMid);
  midsOutput_ = &outputIs(std::make_unique<Flo::TopOutput<MidsSpec>>(*this, "outMidsOutput",
                                                                      std::vector<size_t>{evalMid}, out_));
  dummyOutput = &outputIs(std::make_unique<Flo::ReadyOutput>(*this, "dummyOutput", std::vector<size_t>{evalMid}));
}

// The order in which OutputState's flags turn true.
class ReadyLog final : public Mica::Subscriber {
 public:
  explicit ReadyLog(const Flo::OutputState& state) : state_(state) { state_.subscriberAdd(this); }
  ~ReadyLog() { state_.subscriberRemove(this); }
  void onNotification(Mica::AttrId attr, const void*, const void*) override {
    order.push_back(attr == Flo::OutputState::readyAttr ? "ready" : state_.name(attr));
  }
  Texts order;

 private:
  const Flo::OutputState& state_;
};

class ReadyOutputTest : public IeTest::ModeFixture {};

TEST_P(ReadyOutputTest, GetsReadyAfterTheReconciledOutputAndDeletesNothing) {
  Mica::Ptr<Root> root(new Root());
  for (int m = 1; m <= 4; ++m) root->midsIs(m);
  Mica::Ptr<OutRoot> out(new OutRoot());
  out->midsIs(9);  // stale: the output before dummyOutput has something to delete
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, 1u << Flo::kLevelProgress);

  Mica::Ptr<FlagSm> sm(new FlagSm(root, out, control()));
  ReadyLog log(sm->outputState());
  sm->handleInitialized();
  if (GetParam() != IeTest::Mode::synchronous) {
    EXPECT_FALSE(sm->dummyOutput->ready());
    runUntilIdle();
  }
  ASSERT_TRUE(sm->ready());
  EXPECT_EQ(contentsOf(*out), (Contents{{1, {}}, {2, {}}, {3, {}}, {4, {}}}));
  EXPECT_EQ(log.order, (Texts{"outMidsOutputReady", "dummyOutputReady", "ready"}));

  const Texts texts = capture.texts(Flo::kLevelProgress);
  auto count = [&](const std::string& t) { return std::count(texts.begin(), texts.end(), t); };
  EXPECT_EQ(count("Input scans for dummyOutput complete"), 1);
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& t) { return t.starts_with("Deletion scan for reconciliation"); }),
            1);  // outMidsOutput's only

  capture.clear();
  sm->dummyOutput->handleInputReady();
  EXPECT_EQ(capture.texts(), (Texts{"FlagSm handledummyOutputInputReady", " already ready, not reconciling."}));
}

INSTANTIATE_TEST_SUITE_P(Modes, ReadyOutputTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace RtTest
