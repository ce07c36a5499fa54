// The InternetExit and SiEdge modules: construction, the gate manager attribute, the exit-info
// message field by field, commands, dumps, destruction, and the result-type mapping.
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

// The factories call the generic constructions, so the SiEdge's arguments stand for all three.
TEST_F(InternetExitTest, FactoriesPassTheArgumentsThroughAndMakeAGateManager) {
  auto edge = siEdgeFactory("edge", OrbModule::ModuleClass::egress, 5, 6, 7, 8, pair, orbcsd);
  EXPECT_EQ(edge->name().view(), "edge");
  EXPECT_EQ(edge->moduleClass(), OrbModule::ModuleClass::egress);
  EXPECT_EQ(std::vector<uint32_t>({edge->maxInGate(), edge->maxOutGate(), edge->reservedInGate(),
                                   edge->reservedOutGate()}),
            std::vector<uint32_t>({5, 6, 7, 8}));
  ASSERT_NE(edge->gateManager(), nullptr);
  EXPECT_EQ(edge->gateManager()->orbcsd(), orbcsd);
  EXPECT_EQ(&ie->typeData(), &InternetExit::kType);
  EXPECT_EQ(&edge->typeData(), &SiEdge::kType);
  EXPECT_EQ(moduleCast<InternetExit>(Mica::Ptr<Module>(edge)).get(), edge.get());
}

TEST_F(InternetExitTest, GateManagerIsKeepsOrReplacesAndDelRemovesPublishingEachChangeOnce) {
  ManagerChanges changes;
  ie->subscriberAdd(&changes);
  const auto first = ie->gateManager();
  EXPECT_EQ(ie->assignGate(Wire::IntfId("Ethernet1")), 2u);
  EXPECT_EQ(ie->assignGate(Wire::IntfId("Ethernet2")), 3u);
  // The same common state keeps the manager and its gates, and publishes nothing.
  EXPECT_EQ(ie->gateManagerIs(orbcsd), first);
  EXPECT_EQ(ie->gateManager(), first);
  EXPECT_TRUE(changes.seen.empty());

  auto other = Mica::make<OrbCommonSmData>();
  const auto second = ie->gateManagerIs(other);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_EQ(second->orbcsd(), other);
  EXPECT_EQ(ie->gateManager(), second);
  ASSERT_EQ(changes.seen.size(), 1u);
  EXPECT_EQ(changes.seen[0].first, InternetExit::gateManagerId);
  EXPECT_EQ(changes.seen[0].second, first.get());
  // The gates lived in the old manager: the new one numbers from the start of the range.
  EXPECT_EQ(ie->assignGate(Wire::IntfId("Ethernet2")), 2u);

  EXPECT_EQ(ie->gateManagerDel(), second);
  EXPECT_EQ(ie->gateManager(), nullptr);
  EXPECT_EQ(changes.seen.size(), 2u);
  EXPECT_EQ(ie->gateManagerDel(), nullptr);
  EXPECT_EQ(changes.seen.size(), 2u);  // nothing left to remove: nothing published
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
  ASSERT_EQ(changes.seen.size(), 1u);
  EXPECT_EQ(changes.seen[0].first, InternetExit::gateManagerId);
  EXPECT_EQ(changes.seen[0].second, manager);
  EXPECT_EQ(orbcsd->refCount(), before);
}

// Every field of the message, for add and delete alike (a delete carries the complete message
// too); results without a gate or of noResult are sent as they are.
TEST_F(InternetExitTest, ExitInfoMessageCarriesEveryFieldUnchanged) {
  const ExitIntfResult none;  // no interface, no gate, noResult
  const ExitIntfResult localNoGate{Wire::IntfId("Ethernet9"), "red", 0xFFFFFFFF, 5,
                                   ExitResultType::noResult()};
  struct Case {
    VniAndLaneId v;
    ExitIntfResult result;
    bool isAdd;
    const char* cmd;
    orb::pb::IeResultType type;
    uint32_t gate;
    const char* intf;
    uint32_t aux, vni, lane;
  };
  const Case cases[] = {
      {v12_3, local, true, "addLaneIeExitInfo", orb::pb::IE_RESULT_LOCAL_OTHER_VRF, 7, "Ethernet7", 3,
       12, 3},
      {VniAndLaneId(VniId(256), 0xFFFF), none, true, "addLaneIeExitInfo",
       orb::pb::IE_RESULT_NO_RESULT, 0xFFFFFFFF, "", 0, 256, 0xFFFF},
      {v12_3, localNoGate, false, "delLaneIeExitInfo", orb::pb::IE_RESULT_NO_RESULT, 0xFFFFFFFF,
       "Ethernet9", 5, 12, 3},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i);
    EXPECT_TRUE(ie->ieUpdateLaneExitInfo(c.v, c.result, c.isAdd));
    ASSERT_EQ(pair->config()->pendingCount(), i + 1);
    const ModuleCmdBase& cmd = pending(i);
    EXPECT_EQ(cmd.moduleName().view(), "ie1");
    EXPECT_EQ(cmd.cmdName().view(), c.cmd);
    EXPECT_TRUE(cmd.ownsArg());
    const auto& arg = IeTest::exitInfoOf(cmd);
    ASSERT_TRUE(arg.has_result() && arg.has_lane_info());
    EXPECT_EQ(arg.result().result_type(), c.type);
    EXPECT_EQ(arg.result().gate_id(), c.gate);
    EXPECT_EQ(arg.result().intf_id(), Wire::IntfId(c.intf).value());
    EXPECT_EQ(arg.result().aux_id(), c.aux);
    EXPECT_EQ(arg.lane_info().vni(), c.vni);
    EXPECT_EQ(arg.lane_info().lane(), c.lane);
  }
}

// Initialization writes one empty level-4 trace; each exit-info update writes its text there and
// to the Blip ring alike.
TEST_F(InternetExitTest, InitializationAndExitInfoTracesAndTheBlipRecordsReadTheSame) {
  IeTest::TraceCaptureAt capture("OrbSiEdgeModule", ~uint32_t{0});
  auto module = makeIe(pair);
  module->ieUpdateLaneExitInfo(v12_3, local, true);
  const std::string added =
      "Updating (Add) exitIntf intf=Ethernet7 vrf=blue gate=7 aux=3 type=localOtherVrf to LANE: "
      "( 12 : 3 )";
  EXPECT_EQ(IeTest::newestBlip(), added);
  module->ieUpdateLaneExitInfo(v12_3, local, false);
  const std::string deleted =
      "Updating (Del) exitIntf intf=Ethernet7 vrf=blue gate=7 aux=3 type=localOtherVrf to LANE: "
      "( 12 : 3 )";
  EXPECT_EQ(IeTest::newestBlip(), deleted);
  ASSERT_EQ(capture.lines().size(), 3u);
  EXPECT_EQ(capture.texts(4), (std::vector<std::string>{"", added, deleted}));
  for (const auto& line : capture.lines()) EXPECT_EQ(line.handler, "OrbSiEdgeModule");
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
