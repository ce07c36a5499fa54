// The InternetExit and SiEdge modules: the gate manager attribute, destruction, traces, commands,
// dumps and the result-type mapping. The exit-info message's fields are checked end to end.
#include "Orb/OrbSiEdgeModule.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/mica/Assert.h"
#include "tests/Orb/ModuleTestSupport.h"
#include "tests/support/Thrown.h"

namespace Orb {
namespace {

using OrbInternetExit::ExitIntfResult;
using OrbInternetExit::ExitResultType;
using Lane::VniAndLaneId;
using Lane::VniId;

// Records (attribute, old gate manager) of each notification.
struct ManagerChanges : Mica::Subscriber {
  void onNotification(Mica::AttrId attr, const void* key, const void* old) override {
    EXPECT_EQ(key, nullptr);
    const auto* oldManager = static_cast<const Mica::Ptr<SiModuleGateManager>*>(old);
    seen.emplace_back(attr, oldManager ? oldManager->get() : nullptr);
  }
  std::vector<std::pair<Mica::AttrId, const SiModuleGateManager*>> seen;
};

class InternetExitTest : public testing::Test {
 protected:
  Mica::Ptr<InternetExit> makeIe(Mica::Ptr<ModuleConfigStatusPair> p) {
    return internetExitFactory("ie1", OrbModule::ModuleClass::forwarding, 4, 16, 1, 2, std::move(p),
                               orbcsd);
  }
  const ModuleCmdBase& pending(size_t i) const { return *pair->config()->pending().at(i); }
  std::string dump(const Module& m, unsigned indent) const {
    auto ctx = Mica::make<Keel::DumpContext>();
    m.dumpState(ctx, indent);
    return ctx->text();
  }

  Mica::ThrowingAssertions throwing;
  Mica::Ptr<OrbCommonSmData> orbcsd = Mica::make<OrbCommonSmData>();
  Mica::Ptr<ModuleConfigStatusPair> pair = Mica::make<ModuleConfigStatusPair>();
  Mica::Ptr<InternetExit> ie = makeIe(pair);
  const ExitIntfResult local{Wire::IntfId("Ethernet7"), "blue", 7, 3, ExitResultType::localOtherVrf()};
  const VniAndLaneId v12_3{VniId(12), 3};
};

TEST_F(InternetExitTest, GateManagerIsKeepsOrReplacesAndDelRemovesPublishingEachChangeOnce) {
  ManagerChanges changes;
  ie->subscriberAdd(&changes);
  const auto first = ie->gateManager();
  EXPECT_EQ(ie->assignGate(Wire::IntfId("Ethernet1")), 2u);
  EXPECT_EQ(ie->assignGate(Wire::IntfId("Ethernet2")), 3u);
  // The same common state keeps the manager and its gates, and publishes nothing.
  EXPECT_EQ(ie->gateManagerIs(orbcsd), first);
  EXPECT_TRUE(changes.seen.empty());

  auto other = Mica::make<OrbCommonSmData>();
  const auto second = ie->gateManagerIs(other);
  EXPECT_EQ(second->orbcsd(), other);
  EXPECT_EQ(ie->gateManager(), second);
  EXPECT_EQ(changes.seen, (decltype(changes.seen){{InternetExit::gateManagerId, first.get()}}));
  // The gates lived in the old manager: the new one numbers from the start of the range.
  EXPECT_EQ(ie->assignGate(Wire::IntfId("Ethernet2")), 2u);

  EXPECT_EQ(ie->gateManagerDel(), second);
  EXPECT_EQ(ie->gateManagerDel(), nullptr);
  EXPECT_EQ(changes.seen.size(), 2u);  // nothing left to remove the second time: nothing published
  // Without a manager the gate operations answer their failure values.
  EXPECT_EQ(ie->assignGate(Wire::IntfId("Ethernet1")), InternetExit::noGate);
  EXPECT_FALSE(ie->releaseGate(Wire::IntfId("Ethernet1")));
  ie->releaseAllGates();
  ie->subscriberRemove(&changes);
}

TEST_F(InternetExitTest, DestructionRemovesTheManagerWithOneChangeAndDropsTheCommonState) {
  const auto before = orbcsd->refCount();
  auto module = makeIe(pair);
  EXPECT_GT(orbcsd->refCount(), before);
  const auto* manager = module->gateManager().get();
  ManagerChanges changes;
  module->subscriberAdd(&changes);
  module = nullptr;
  EXPECT_EQ(changes.seen, (decltype(changes.seen){{InternetExit::gateManagerId, manager}}));
  EXPECT_EQ(orbcsd->refCount(), before);
}

// Initialization writes one empty level-4 trace; each exit-info update writes its text there and
// to the Blip ring alike.
TEST_F(InternetExitTest, InitializationAndExitInfoTracesAndTheBlipRecordsReadTheSame) {
  IeTest::TraceCaptureAt capture("OrbSiEdgeModule", ~uint32_t{0});
  auto module = makeIe(pair);
  const std::string text = "exitIntf intf=Ethernet7 vrf=blue gate=7 aux=3 type=localOtherVrf to LANE: ( 12 : 3 )";
  module->ieUpdateLaneExitInfo(v12_3, local, true);
  EXPECT_EQ(IeTest::newestBlip(), "Updating (Add) " + text);
  module->ieUpdateLaneExitInfo(v12_3, local, false);
  EXPECT_EQ(IeTest::newestBlip(), "Updating (Del) " + text);
  EXPECT_EQ(IeTest::levelled(capture, "OrbSiEdgeModule"),
            (std::vector<std::string>{"4 ", "4 Updating (Add) " + text, "4 Updating (Del) " + text}));
  EXPECT_EQ(capture.lines().size(), 3u);
}

TEST_F(InternetExitTest, CounterCommandsCarryTheirArgumentUnchanged) {
  auto edge = siEdgeFactory("edge", OrbModule::ModuleClass::egress, 1, 8, 0, 1, pair, orbcsd);
  auto* counters = new orb::pb::InternetExitCountersArg;
  auto* edgeCounters = new orb::pb::SiEdgeCountersArg;
  ie->setupCounters(counters);
  edge->setupEdgeCounters(edgeCounters);
  ASSERT_EQ(pair->config()->pendingCount(), 2u);
  EXPECT_EQ(pending(0).cmdName().view(), "setupCounters");
  EXPECT_EQ(pending(0).moduleName().view(), "ie1");
  EXPECT_EQ(pending(0).arg(), counters);
  EXPECT_EQ(pending(1).cmdName().view(), "setupEdgeCounters");
  EXPECT_EQ(pending(1).moduleName().view(), "edge");
  EXPECT_EQ(pending(1).arg(), edgeCounters);
  EXPECT_TRUE(pending(1).ownsArg());
}

TEST_F(InternetExitTest, WithoutConfigurationHalfCommandsAreDroppedAndStillTrue) {
  auto bare = makeIe(Mica::make<ModuleConfigStatusPair>(nullptr, nullptr));
  auto noPair = makeIe(nullptr);
  EXPECT_TRUE(bare->ieUpdateLaneExitInfo(v12_3, local, true));
  EXPECT_TRUE(noPair->ieUpdateLaneExitInfo(v12_3, local, false));
  noPair->setupCounters(new orb::pb::InternetExitCountersArg);  // deleted, not leaked
}

TEST_F(InternetExitTest, DumpStateTexts) {
  EXPECT_EQ(dump(*ie, 0), "InternetExit\n  SiModuleGateManager\n");
  EXPECT_EQ(dump(*ie, 3), "   InternetExit\n     SiModuleGateManager\n");
  ie->assignGate(Wire::IntfId("Ethernet1"));
  EXPECT_EQ(dump(*ie, 1),
            " InternetExit\n"
            "   SiModuleGateManager\n"
            "     Module ie1: gates 2..15\n"
            "       Ethernet1: gate 2 users 1\n");
  ie->gateManagerDel();
  EXPECT_EQ(dump(*ie, 0), "InternetExit\n  gateManager: none\n");
}

TEST(IeGetPbResultTypeTest, ANumberAboveFourFailsTheAssertionFalse) {
  Mica::ThrowingAssertions throwing;
  const ExitResultType bad(static_cast<ExitResultType::Enum>(5));
  EXPECT_EQ(IeTest::thrownText<Mica::AssertionError>([&] { ieGetPbResultType(bad); }), "false");
}

}  // namespace
}  // namespace Orb
