// The whole library through its assembly: from operator configuration to the data path's exit
// table, under every scheduling mode.
#include "Orb/InternetExitAssembly.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "platform/module/DataPathModel.h"
#include "platform/keel/Task.h"
#include "tests/support/SmTestSupport.h"

namespace OrbInternetExit {
namespace {

using Lane::VniAndLaneId;
using Lane::VniId;
using Texts = std::vector<std::string>;

VniAndLaneId pair(int vni, int lane) { return VniAndLaneId(VniId(vni), static_cast<uint16_t>(lane)); }

// Every output of the library and what the resolver and the data path hold, as text; gate
// numbers are shown as "gate" (their numbering depends on the order of requests).
Texts snapshot(const InternetExitAssembly& a, const Orb::DataPathModel* dataPath) {
  Texts out;
  const LibraryOutputs& o = a.outputs();
  const auto result = [](const ExitIntfResult& r) {
    return fmt::format("{}/{}/{}/{}", r.intfId, r.gateId == ExitIntfResult::noGate ? "none" : "gate", r.auxId,
                       r.resultType);
  };
  for (const auto& k : o.policyToVniLane->polToVniLane) out.push_back(fmt::format("bound {}", k));
  for (const auto& [v, cfg] : o.statusConfig->statusConfig) {
    for (const auto& [g, grp] : cfg->exitGroupStatusConfig) {
      for (const auto& k : grp->exitOption) out.push_back(fmt::format("config {} {}", g, k));
    }
    for (const auto& [p, pc] : cfg->policyStatusConfig) {
      for (const auto& [s, e] : pc->exitGroup) out.push_back(fmt::format("entry {} {} {}", p, s, e->exitGroup.get()));
    }
  }
  for (const auto& [k, s] : o.exitOption->exitOptionStatus) {
    for (const auto& g : s->group) out.push_back(fmt::format("option {} in {}", k, g));
    out.push_back(fmt::format("option {} {}", k, result(s->resultExitIntf.get())));
  }
  for (const auto& [g, s] : o.exitGroup->exitGroupStatus) {
    for (const auto& [k, r] : s->result) out.push_back(fmt::format("group {} {} {}", g, k, result(r)));
  }
  for (const auto& [g, e] : o.groupToPolicy->groupToPolicy) {
    for (const auto& p : e->policy) out.push_back(fmt::format("reverse {} {}", g, p));
  }
  for (const auto& [p, s] : o.policy->policyStatus) {
    out.push_back(fmt::format("policy {} wins {}", p, s->winningExitGroup.get()));
    for (const auto& r : s->exitIntf) out.push_back(fmt::format("policy {} {}", p, result(r)));
  }
  for (const auto& v : o.vniLaneDefaultRoute->defaultRoute) out.push_back(fmt::format("defaultRoute {}", v));
  for (const auto& k : a.inputs().svcReqDir->resolverRequest) out.push_back(fmt::format("request {}", k));
  for (const auto& k : a.inputs().svcNotifDir->svcNotification) out.push_back(fmt::format("inUse {}", k));
  if (dataPath) {
    for (const auto& e : dataPath->exitTable()) {
      out.push_back(fmt::format("dataPath {} {} {} {}", e.vniLane, e.intfId, e.auxId, e.resultType));
    }
  }
  return out;
}

// The inputs of a small network, the library over them on a scheduler of one mode, and the data
// path applying what the module queues.
struct ChainWorld {
  explicit ChainWorld(IeTest::Mode mode)
      : scheduler(new Keel::TaskScheduler()), control(IeTest::controlFor(mode, scheduler, 20261206)) {
    // Gold prefers its local exit through wan1; its backup group has a remote exit.
    config->exitGroupConfigIs(Mica::String("Primary"))->exitOptionIs(ExitKey(Mica::String("wan1"), ExitType::localExit()));
    auto backup = config->exitGroupConfigIs(Mica::String("Backup"));
    backup->exitOptionIs(ExitKey(Mica::String("peer"), ExitType::remoteExit()));
    backup->exitOptionIs(ExitKey(Mica::String(), ExitType::fibDefault()));
    auto gold = config->policyConfigIs(Mica::String("Gold"));
    gold->exitGroupIs(10, Mica::String("Primary"));
    gold->exitGroupIs(20, Mica::String("Backup"));
    auto vxlan = Mica::make<Orb::VxlanInfo>();
    vxlan->vrfToVniMapIs(Mica::String("blue"), Vxlan::VniExtOrNone(10));
    orbcsd->vxlanInfoIs(vxlan);
    orbcsd->l3IntfIs(Wire::IntfId("eth1"));
    conns->connectionIs(Mica::String("wan1"), ResultConnIntf(Wire::IntfId("eth1"), Mica::String("blue"), 5));
    responses->resolverResponseIs(VniLaneSvcGroupName(Mica::String("peer"), pair(10, 1)), {42});
    lanes->laneToIEMapIs(pair(10, 1), Mica::String("Gold"));
    lanes->laneToIEMapIs(pair(10, 2), Mica::String("Gold"));
  }
  ~ChainWorld() {
    assembly = nullptr;
    orbcsd->internetExitModuleIs(nullptr);  // a module set by a test holds orbcsd, and orbcsd it
  }

  AgentEntities inputs() const { return AgentEntities{lanes, config, orbcsd, conns, responses, svcReq, svcNotif}; }
  // Runs the scheduler, then lets the data path apply what was queued (logged in `commands`).
  void settle() {
    scheduler->runUntilIdle();
    if (!assembly || !assembly->internetExitPair()) return;
    for (const auto& cmd : assembly->internetExitPair()->config()->pending()) {
      commands.push_back(Orb::DataPathModel::describe(*cmd));
    }
    dataPath.drain(*assembly->internetExitPair());
  }
  void intf(const char* name, bool up) {
    if (up) {
      orbcsd->l3IntfIs(Wire::IntfId(name));
    } else {
      orbcsd->l3IntfDel(Wire::IntfId(name));
    }
    settle();
  }
  Texts exitsOf(VniAndLaneId v) const {
    Texts out;
    for (const auto& e : dataPath.exitsOf(v)) out.push_back(fmt::format("{}/{}", e.intfId, e.auxId));
    return out;
  }

  Mica::ThrowingAssertions throwing;
  Mica::Ptr<Keel::TaskScheduler> scheduler;
  Flo::SmControl control;
  Mica::Ptr<Lane::LaneStatusDir> lanes = Mica::make<Lane::LaneStatusDir>();
  Mica::Ptr<InternetExitCliConfig> config = Mica::make<InternetExitCliConfig>();
  Mica::Ptr<Orb::OrbCommonSmData> orbcsd = Mica::make<Orb::OrbCommonSmData>();
  Mica::Ptr<SiConnectionStatusDir> conns = Mica::make<SiConnectionStatusDir>();
  Mica::Ptr<SvcResolverResponseDir> responses = Mica::make<SvcResolverResponseDir>();
  Mica::Ptr<SvcResolverRequestDir> svcReq = Mica::make<SvcResolverRequestDir>();
  Mica::Ptr<SvcInUseNotificationDir> svcNotif = Mica::make<SvcInUseNotificationDir>();
  Orb::DataPathModel dataPath{Mica::String("InternetExit")};
  Texts commands;
  std::unique_ptr<InternetExitAssembly> assembly;
};

// Brings the whole library up with its InternetExit module, then fails the local exit's
// interface over and back. Returns the commands the two events sent and the final state.
std::pair<Texts, Texts> failoverStory(ChainWorld& w) {
  w.assembly = std::make_unique<InternetExitAssembly>(w.inputs(), LibraryOutputs::create(), w.control);
  w.assembly->startAll(ModuleOptions{.internetExit = true});
  w.settle();
  w.commands.clear();
  w.intf("eth1", false);
  w.intf("eth1", true);
  return {w.commands, snapshot(*w.assembly, &w.dataPath)};
}

class WholeChainTest : public testing::TestWithParam<IeTest::Mode> {
 protected:
  ChainWorld w_{GetParam()};
};

// The local exit's interface fails: the backup group wins and the data path gets the remote exit
// before it loses the local one; the interface returns and the pair goes back.
TEST_P(WholeChainTest, FailoverToTheBackupGroupAndBack) {
  w_.assembly = std::make_unique<InternetExitAssembly>(w_.inputs(), LibraryOutputs::create(), w_.control);
  w_.assembly->startAll(ModuleOptions{.internetExit = true});
  w_.settle();
  ASSERT_TRUE(w_.assembly->ready());
  const uint64_t eth1 = Wire::IntfId("eth1").value();
  EXPECT_EQ(w_.exitsOf(pair(10, 1)), (Texts{fmt::format("{}/5", eth1)}));
  EXPECT_TRUE(w_.svcReq->resolverRequest.contains(VniLaneSvcGroupName(Mica::String("peer"), pair(10, 1))));

  // At bring-up an interface may reach the data path twice (once live, once by the scan that
  // follows); the failover itself must apply cleanly.
  const size_t anomaliesBefore = w_.dataPath.anomalies().size();
  const uint64_t appliedBefore = w_.dataPath.applied();
  w_.intf("eth1", false);
  EXPECT_EQ(w_.exitsOf(pair(10, 1)), (Texts{"0/42"}));
  EXPECT_TRUE(w_.exitsOf(pair(10, 2)).empty());  // no resolver answer, no default route
  EXPECT_TRUE(w_.svcNotif->svcNotification.contains(LaneSvcRemoteGroup(pair(10, 1), 42)));
  EXPECT_EQ(w_.dataPath.applied() - appliedBefore, 3u);  // add remote (10.1), del eth1 (10.1, 10.2)
  EXPECT_EQ(w_.dataPath.anomalies().size(), anomaliesBefore);

  w_.intf("eth1", true);
  EXPECT_EQ(w_.exitsOf(pair(10, 1)), (Texts{fmt::format("{}/5", eth1)}));
  EXPECT_FALSE(w_.svcNotif->svcNotification.contains(LaneSvcRemoteGroup(pair(10, 1), 42)));
  EXPECT_EQ(w_.dataPath.anomalies().size(), anomaliesBefore);
}

// The same story under every scheduling mode sends the same commands and ends in the same state.
TEST(WholeChainModesTest, EveryModeSendsTheSameCommandsAndEndsAlike) {
  std::optional<std::pair<Texts, Texts>> first;
  for (IeTest::Mode mode : {IeTest::Mode::neverYield, IeTest::Mode::alwaysYield, IeTest::Mode::randomYield,
                            IeTest::Mode::synchronous}) {
    ChainWorld w(mode);
    auto story = failoverStory(w);
    EXPECT_FALSE(story.first.empty());
    if (first) {
      EXPECT_EQ(story, *first) << "mode " << static_cast<int>(mode);
    } else {
      first = std::move(story);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, WholeChainTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
