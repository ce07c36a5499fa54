#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "tests/support/SmTestSupport.h"
#include "tests/support/TraceLevels.h"
#include "tests/support/TreeLog.h"

namespace OrbInternetExit {
namespace {

using IeTest::pair;

// Logs polToVniLane's changes in order ("+K" / "-K"), to prove that nothing is deleted and
// re-inserted.
IeTest::TreeLog bindingLog(const Mica::Ptr<IePolicyToVniLaneDir>& dir) {
  return IeTest::TreeLog(dir, [dir](const Mica::Entity&, Mica::AttrId, const void* key, const void*) {
    const auto& k = *static_cast<const PolicyVniLaneKey*>(key);
    return fmt::format("{}{}", dir->polToVniLane.contains(k) ? '+' : '-', k);
  });
}

using Texts = std::vector<std::string>;

constexpr const char* kFrom =
    "evalLaneToIePolicy = from( laneStatusDir.laneToIEMap[] ): vniLaneId={} oldPolicyNameOpt={} newPolicyNameOpt={}";
constexpr const char* kForeach =
    " foreach( [ ( if ( _oldValueOpt1 != _newValueOpt2 ) then _oldValueOpt1 else None, false ), ( _newValueOpt2, true ) ] ) flattening 2 elements";
constexpr const char* kFilter = "filter( _valueOpt3 ) failed, terminating pipeline";

std::string from(const char* vniLaneId, const char* oldName, const char* newName) {
  return fmt::format(fmt::runtime(kFrom), vniLaneId, oldName, newName);
}
std::string inserting(const char* key) {
  return std::string("into( iePolicyToVniLaneDir.polToVniLane[ policyKey ] ): inserting k1=") + key;
}
std::string record(const char* key, bool isAdd) {
  return fmt::format("evalLaneToIePolicy: policy {} isAdd {}", key, isAdd);
}

// Levels 6 to 8 of the state machines' handler: the pipeline traces.
constexpr uint32_t kPipelineLevels = 0x7u << 6;

class IePolicyToVniLaneSmTest : public IeTest::ModeFixture {
 protected:
  Mica::Ptr<IePolicyToVniLaneSm> start() {
    auto sm = iePolicyToVniLaneSmFactory(lanes_, dir_, control());
    runUntilIdle();
    return sm;
  }
  Mica::Ptr<Lane::LaneStatusDir> lanes_{new Lane::LaneStatusDir()};
  Mica::Ptr<IePolicyToVniLaneDir> dir_{new IePolicyToVniLaneDir()};
};

// The pipeline's trace texts are pinned by the simulator's golden trace policy_to_vni_lane.
TEST_P(IePolicyToVniLaneSmTest, RebindingRecordsAndRetractsBeforeAsserting) {
  lanes_->laneToIEMapIs(pair(1, 1), "P");
  Blip::TraceHandle blip(16);
  control_.qtHandle = &blip;
  auto sm = start();
  ASSERT_TRUE(sm->ready());
  blip.clear();
  auto log = bindingLog(dir_);
  lanes_->laneToIEMapIs(pair(1, 1), "Q");
  EXPECT_EQ(blip.decoded(), (Texts{record("P@1.1", false), record("Q@1.1", true)}));
  EXPECT_EQ(log.events, (Texts{"-P@1.1", "+Q@1.1"}));
}

TEST_P(IePolicyToVniLaneSmTest, SameNameAgainInsertsThePresentKeyOnceAndDeletesNothing) {
  lanes_->laneToIEMapIs(pair(1, 1), "P");
  auto sm = start();
  auto log = bindingLog(dir_);
  IeTest::TraceCaptureAt capture("OrbInternetExitStatusSm", kPipelineLevels);
  // The entity notifies no unchanged value, so the change (P -> P) is handed to the pipeline.
  sm->eventToEvalLaneToIePolicy(pair(1, 1), Mica::String("P"), Mica::String("P"));
  EXPECT_EQ(capture.texts(7), (Texts{from("1.1", "P", "P"), inserting("P@1.1")}));
  EXPECT_EQ(capture.texts(6), (Texts{kForeach, kFilter}));
  EXPECT_EQ(log.events, Texts{});
}

INSTANTIATE_TEST_SUITE_P(Modes, IePolicyToVniLaneSmTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
