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

constexpr uint32_t kFilterAndPipeline = (1u << Flo::kLevelFilter) | (1u << Flo::kLevelPipeline);

class IeStatusConfigSmTest : public IeTest::ModeFixture {
 protected:
  Mica::Ptr<IeStatusConfigSm> start() {
    auto sm = ieStatusConfigSmFactory(config_, bindings_, dir_, control());
    runUntilIdle();
    EXPECT_TRUE(sm->ready());
    return sm;
  }
  void bind(const char* policy, VniAndLaneId v) { bindings_->polToVniLaneIs(PolicyVniLaneKey(policy, v)); runUntilIdle(); }
  void unbind(const char* policy, VniAndLaneId v) { bindings_->polToVniLaneDel(PolicyVniLaneKey(policy, v)); runUntilIdle(); }
  void entry(const char* policy, double seqNo, const char* group) {
    config_->policyConfigIs(policy)->exitGroupIs(seqNo, group);
    runUntilIdle();
  }
  void option(const char* group, const char* exit) {
    config_->exitGroupConfigIs(group)->exitOptionIs(local(exit));
    runUntilIdle();
  }

  Mica::Ptr<InternetExitCliConfig> config_{new InternetExitCliConfig()};
  Mica::Ptr<IePolicyToVniLaneDir> bindings_{new IePolicyToVniLaneDir()};
  Mica::Ptr<IeStatusConfigDir> dir_{new IeStatusConfigDir()};
};

TEST_P(IeStatusConfigSmTest, PipelineTraces) {
  option("G", "wan1");
  entry("P", 10, "G");
  auto sm = start();
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, kFilterAndPipeline);

  bind("P", pair(1, 2));
  std::vector<std::string> sinks;
  for (const auto& text : capture.texts(7)) {
    if (text.starts_with("into(") || text.starts_with("laneToPolicyUpd")) sinks.push_back(text);
  }
  EXPECT_EQ(sinks, (std::vector<std::string>{
                       "laneToPolicyUpd = from( iePolicyToVniLaneDir.polToVniLane[] ): polKey=P@1.2 isAdd=true",
                       "into( statusCfgDir.statusConfig[ vniLaneId ] ): inserting k1=1.2, value=1.2",
                       "into( statusCfg.policyStatusConfig[ polKey ].exitGroup[ seqNo ].exitGroup ): inserting "
                       "k1=P@1.2, k2=10, value=G@1.2",
                       "into( statusCfg.exitGroupStatusConfig[ grpKey ] ): inserting k1=G@1.2, value=G@1.2",
                       "into( grpStatusCfg.exitOption[ exitOptKey ] ): inserting k1=localExit:wan1@1.2",
                   }));
  EXPECT_TRUE(capture.contains(" foreach( ( *config.policyConfig[ polName ] ).exitGroup ) flattening 1 elements"));

  capture.clear();
  bind("U", pair(3, 4));
  EXPECT_TRUE(capture.contains(
      "filter( ( ( statusCfgDir.statusConfig[ vniLaneId ] && config.policyConfig[ polName ] ) && "
      "iePolicyToVniLaneDir.polToVniLane[ polKey ] ) ) failed, terminating pipeline"));

  // G named at a second sequence number: its new option is written once per entry naming it.
  entry("P", 20, "G");
  capture.clear();
  option("G", "wan2");
  const auto texts = capture.texts(7);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "into( grpStatusCfg.exitOption[ exitOptKey ] ): inserting k1=localExit:wan2@1.2"), 2);

  capture.clear();
  unbind("P", pair(1, 2));
  EXPECT_TRUE(capture.contains("into( statusCfgDir.statusConfig[ vniLaneId ] ): deleting k1=1.2"));
}

// The same steps through the indexed walks (levels 6 and 9 off) and the full walks (on).
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
