#include "Orb/OrbInternetExitStatusSm/IeStatusConfigSm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/trace/Trace.h"
#include "tests/Orb/StatusConfigReference.h"
#include "tests/support/SmTestSupport.h"
#include "tests/support/TraceLevels.h"

namespace OrbInternetExit {
namespace {

using Lane::VniAndLaneId;
using Reference::Agent;
using Reference::local;

using IeTest::pair;

// The pipelines' trace texts are pinned by the simulator's golden trace status_config.
class IeStatusConfigSmTest : public IeTest::ModeFixture {};

// The restart below runs through the indexed walks (levels 6 and 9 off) and the full walks (on).
constexpr const char* kIndexed = "IeStatusConfigSmTestIndexed";
constexpr const char* kFullWalk = "IeStatusConfigSmTestFullWalk";
constexpr uint32_t kIndexedLevels = 1u << Flo::kLevelPipeline;
constexpr uint32_t kFullWalkLevels = (1u << Flo::kLevelFilter) | (1u << Flo::kLevelPipeline) | (1u << Flo::kLevelProgress);

using IeTest::textsOf;

// A pair rebound while the agent was stopped: until the policy entries of the old binding are
// reconciled away, the option changes of the restart (their second pass) find them, so the group
// they name is kept with its options although no entry names it any more.
TEST_P(IeStatusConfigSmTest, RestartOverARebindPairKeepsTheGroupOfItsStaleEntries) {
  Mica::TraceCapture capture;
  for (const auto& [traceName, levels] : {std::pair{kIndexed, kIndexedLevels}, std::pair{kFullWalk, kFullWalkLevels}}) {
    SCOPED_TRACE(traceName);
    Agent agent(GetParam(), traceName, levels);
    const VniAndLaneId v = pair(1, 1);
    agent.config->exitGroupConfigIs("G")->exitOptionIs(local("wan1"));
    agent.config->exitGroupConfigIs("H")->exitOptionIs(local("wan2"));
    agent.config->policyConfigIs("P")->exitGroupIs(10, "G");
    agent.config->policyConfigIs("Q")->exitGroupIs(10, "H");
    agent.bindings->polToVniLaneIs(PolicyVniLaneKey("P", v));
    agent.start();
    agent.runUntilIdle();
    agent.stop();
    agent.bindings->polToVniLaneDel(PolicyVniLaneKey("P", v));
    agent.bindings->polToVniLaneIs(PolicyVniLaneKey("Q", v));
    capture.clear();
    agent.start();
    agent.runUntilIdle();
    ASSERT_TRUE(agent.sm->ready());
    if (levels == kFullWalkLevels) {
      // Outputs reconcile, and become ready, in declaration order: the policy entries go last.
      std::vector<std::string> order;
      for (const auto& text : textsOf(capture, traceName, Flo::kLevelProgress)) {
        if (text.starts_with("Input scans for ") && std::find(order.begin(), order.end(), text) == order.end()) {
          order.push_back(text);
        }
      }
      EXPECT_EQ(order, (std::vector<std::string>{
                           "Input scans for statusCfgDirStatusConfigOutput complete",
                           "Input scans for orbInternetExitIeStatusConfigPtrExitGroupStatusConfigOutput complete",
                           "Input scans for orbInternetExitIeStatusConfigPtrPolicyStatusConfigExitGroupExitGroupOutput complete",
                           "Input scans for orbInternetExitExitGroupStatusConfigPtrExitOptionOutput complete"}));
    }

    EXPECT_EQ(agent.output(),
              "pair 1.1\n  policy Q@1.1\n  entry Q@1.1 10 -> H@1.1\n"
              "  group G@1.1\n    option localExit:wan1@1.1\n  group H@1.1\n    option localExit:wan2@1.1\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, IeStatusConfigSmTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
