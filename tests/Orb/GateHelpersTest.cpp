// The gate and exit-interface helpers: the InternetExit type test, pass-through of the module's
// answers, and the exact "module is disabled" traces.
#include "Orb/OrbInternetExitUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Orb/OrbSiEdgeModule.h"
#include "platform/mica/Assert.h"
#include "tests/Orb/ModuleTestSupport.h"

namespace OrbInternetExit {
namespace {

using Lane::VniAndLaneId;
using Lane::VniId;
using Orb::ModuleConfigStatusPair;
using Orb::OrbModule::ModuleClass;

class GateHelpersTest : public testing::Test {
 protected:
  // The module and orbcsd hold each other; the agent breaks the cycle by clearing the attribute.
  ~GateHelpersTest() override { orbcsd->internetExitModuleIs(nullptr); }

  Mica::ThrowingAssertions throwing;
  IeTest::TraceLevels utilOn{"OrbInternetExitUtil", ~uint32_t{0}};
  Mica::Ptr<Orb::OrbCommonSmData> orbcsd = Mica::make<Orb::OrbCommonSmData>();
  Mica::Ptr<const Orb::OrbCommonSmData> constOrbcsd = orbcsd;
  Mica::Ptr<ModuleConfigStatusPair> pair = Mica::make<ModuleConfigStatusPair>();
  const Wire::IntfId et1{"Ethernet1"};
  const ExitIntfResult local{et1, "default", 2, 4, ExitResultType::localDefaultVrf()};
  const VniAndLaneId pairId{VniId(7), 2};
};

// Absent and present-but-of-another-class must behave the same.
class NoInternetExitModuleTest : public GateHelpersTest, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      other = Mica::make<Orb::Module>("other", ModuleClass::forwarding, 4, 16, 1, 2, nullptr, pair);
      orbcsd->internetExitModuleIs(other);
    }
  }
  Mica::Ptr<Orb::Module> other;
};

// Each helper answers its failure value; the gate helpers write one "disabled" trace each (text
// trace and Blip), the update helper queues and writes nothing.
TEST_P(NoInternetExitModuleTest, HelpersAnswerTheirFailureValueWithTheDisabledTrace) {
  IeTest::TraceCaptureAt capture("OrbSiEdgeModule", ~uint32_t{0});
  EXPECT_EQ(createOrFetchGateId(constOrbcsd, et1), 0xFFFFFFFFu);
  const std::string created = "::createOrFetchGateId: Ethernet1, Internet-exit module is disabled";
  EXPECT_EQ(IeTest::levelled(capture, "OrbInternetExitUtil"), std::vector<std::string>{"5 " + created});
  EXPECT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(IeTest::newestBlip(), created);

  capture.clear();
  EXPECT_FALSE(removeGateId(constOrbcsd, Wire::IntfId("Ethernet2")));
  const std::string removed = "::removeGateId: Ethernet2, Internet-exit module is disabled";
  EXPECT_EQ(capture.texts(5), std::vector<std::string>{removed});
  EXPECT_EQ(IeTest::newestBlip(), removed);

  capture.clear();
  const auto blips = Blip::defaultHandle()->written();
  EXPECT_FALSE(ieUpdateLaneIntf(constOrbcsd, pairId, local, true));
  EXPECT_FALSE(ieUpdateLaneIntf(constOrbcsd, pairId, local, false));
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_EQ(Blip::defaultHandle()->written(), blips);
  EXPECT_EQ(pair->config()->pendingCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(AbsentOrOtherClass, NoInternetExitModuleTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "OtherClass" : "Absent";
                         });

// The module has gates 2 and 3 only: a third interface finds it exhausted, which is no
// "disabled" module.
TEST_F(GateHelpersTest, GateRequestsGoToTheInternetExitModuleAndAreCountedPerInterface) {
  auto ie = Orb::internetExitFactory("ie", ModuleClass::forwarding, 4, 4, 1, 2, pair, orbcsd);
  orbcsd->internetExitModuleIs(ie);
  Mica::TraceCapture capture;
  EXPECT_EQ(createOrFetchGateId(constOrbcsd, et1), 2u);
  EXPECT_EQ(createOrFetchGateId(constOrbcsd, et1), 2u);
  EXPECT_EQ(createOrFetchGateId(constOrbcsd, Wire::IntfId("Ethernet2")), 3u);
  EXPECT_EQ(createOrFetchGateId(constOrbcsd, Wire::IntfId("Ethernet3")), 0xFFFFFFFFu);
  EXPECT_EQ(ie->gateManager()->usersOf(*ie, et1), 2u);
  EXPECT_TRUE(removeGateId(constOrbcsd, et1));
  EXPECT_TRUE(removeGateId(constOrbcsd, et1));
  EXPECT_FALSE(removeGateId(constOrbcsd, et1));  // the module's answer, passed through
  EXPECT_TRUE(capture.texts(5).empty());
  ie->releaseAllGates();
  EXPECT_EQ(ie->gateManager()->gatesInUse(*ie), 0u);
  ie->checkInvariants();
}

TEST_F(GateHelpersTest, IeUpdateLaneIntfSendsWhatTheModuleWouldSend) {
  auto ie = Orb::internetExitFactory("ie", ModuleClass::forwarding, 4, 16, 1, 2, pair, orbcsd);
  orbcsd->internetExitModuleIs(ie);
  EXPECT_TRUE(ieUpdateLaneIntf(constOrbcsd, pairId, local, true));
  EXPECT_TRUE(ieUpdateLaneIntf(constOrbcsd, pairId, local, false));
  EXPECT_TRUE(ie->ieUpdateLaneExitInfo(pairId, local, true));
  const auto& pending = pair->config()->pending();
  ASSERT_EQ(pending.size(), 3u);
  EXPECT_EQ(pending[0]->cmdName().view(), "addLaneIeExitInfo");
  EXPECT_EQ(pending[1]->cmdName().view(), "delLaneIeExitInfo");
  const auto direct = IeTest::exitInfoOf(*pending[2]).SerializeAsString();
  EXPECT_EQ(IeTest::exitInfoOf(*pending[0]).SerializeAsString(), direct);
  EXPECT_EQ(IeTest::exitInfoOf(*pending[1]).SerializeAsString(), direct);
}

TEST_F(GateHelpersTest, ANullCommonStateIsABrokenPrecondition) {
  EXPECT_THROW(createOrFetchGateId(nullptr, et1), Mica::AssertionError);
  EXPECT_THROW(removeGateId(nullptr, et1), Mica::AssertionError);
  EXPECT_THROW(ieUpdateLaneIntf(nullptr, pairId, local, true), Mica::AssertionError);
}

}  // namespace
}  // namespace OrbInternetExit
