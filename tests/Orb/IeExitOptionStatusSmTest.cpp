#include "Orb/OrbInternetExitStatusSm/IeExitOptionStatusSm.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Orb/OrbSiEdgeModule.h"
#include "platform/trace/Trace.h"
#include "tests/support/SmTestSupport.h"
#include "tests/support/TraceLevels.h"

namespace OrbInternetExit {
namespace {

using Lane::VniAndLaneId;
using Texts = std::vector<std::string>;

using IeTest::pair;
ExitVniLaneKey optKey(std::string_view text) { return *Mica::sequenceToValue<ExitVniLaneKey>(text); }

class IeExitOptionStatusSmTest : public IeTest::ModeFixture {
 protected:
  IeExitOptionStatusSmTest() {
    auto vxlan = Mica::make<Orb::VxlanInfo>();
    vxlan->vrfToVniMapIs(Mica::String("blue"), Vxlan::VniExtOrNone(10));
    vxlan->vrfToVniMapIs(Mica::String("red"), Vxlan::VniExtOrNone(20));
    orbcsd_->vxlanInfoIs(vxlan);
    module_ = Orb::internetExitFactory("ie1", Orb::OrbModule::ModuleClass::forwarding, 4, 64, 1, 2,
                                       Mica::make<Orb::ModuleConfigStatusPair>(), orbcsd_);
    orbcsd_->internetExitModuleIs(module_);
  }
  // The module holds orbcsd and orbcsd the module: the attribute goes first.
  ~IeExitOptionStatusSmTest() override {
    sm_ = nullptr;
    orbcsd_->internetExitModuleIs(nullptr);
  }

  void start() {
    sm_ = ieExitOptionStatusSmFactory(statusCfg_, orbcsd_, conns_, responses_, defaultRoutes_, dir_, control());
    runUntilIdle();
  }
  void option(VniAndLaneId v, const char* group, std::string_view key, bool add = true) {
    const GroupVniLaneKey g(Mica::String(group), v);
    const ExitVniLaneKey k(optKey(fmt::format("{}@{}", key, v)));
    if (add) {
      statusCfg_->statusConfigIs(v)->exitGroupStatusConfigIs(g)->exitOptionIs(k);
    } else {
      statusCfg_->statusConfig.get(v)->exitGroupStatusConfig.get(g)->exitOptionDel(k);
    }
    runUntilIdle();
  }
  void conn(const char* name, const char* intf, const char* vrf, uint32_t num = 7) {
    conns_->connectionIs(Mica::String(name), ResultConnIntf(Wire::IntfId(intf), Mica::String(vrf), num));
    runUntilIdle();
  }
  void intf(const char* name, bool add = true) {
    if (add) {
      orbcsd_->l3IntfIs(Wire::IntfId(name));
    } else {
      orbcsd_->l3IntfDel(Wire::IntfId(name));
    }
    runUntilIdle();
  }

  Mica::Ptr<IeStatusConfigDir> statusCfg_ = Mica::make<IeStatusConfigDir>();
  Mica::Ptr<Orb::OrbCommonSmData> orbcsd_ = Mica::make<Orb::OrbCommonSmData>();
  Mica::Ptr<SiConnectionStatusDir> conns_ = Mica::make<SiConnectionStatusDir>();
  Mica::Ptr<SvcResolverResponseDir> responses_ = Mica::make<SvcResolverResponseDir>();
  Mica::Ptr<DefaultRoutePresentForVniLane> defaultRoutes_ = OrbL3Unicast::defaultRoutePresentForVniLaneFactory();
  Mica::Ptr<IeExitOptionDir> dir_ = Mica::make<IeExitOptionDir>();
  Mica::Ptr<Orb::InternetExit> module_;
  Mica::Ptr<IeExitOptionStatusSm> sm_;
};

// A connection in a VRF bound to another VNI is no exit of the pair; the utility says why at its
// own level.
TEST_P(IeExitOptionStatusSmTest, AConnectionInAVrfOfAnotherVniSaysWhyItIsNotValid) {
  intf("eth1");
  conn("wanRed", "eth1", "red", 5);  // red is bound to VNI 20, not 10
  option(pair(10, 1), "G", "localExit:wanRed");
  IeTest::TraceCaptureAt capture("OrbInternetExitUtil", 1u << 5);
  start();
  EXPECT_TRUE(capture.contains("::validInterface: Not valid interface for vrf red, vni 20, exitOptionVni 10"));
}

TEST_P(IeExitOptionStatusSmTest, ConnectionMovingGivesEachGateBackBeforeTakingTheNewOne) {
  intf("eth1");
  intf("eth2");
  conn("wan", "eth1", "default");
  for (int lane = 1; lane <= 3; ++lane) option(pair(10, lane), "G", "localExit:wan");
  start();
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, 1u << 8);
  conn("wan", "eth2", "default");
  Texts notes = capture.texts(8);
  std::erase_if(notes, [](const std::string& t) { return t.starts_with("Updating local exitOption"); });
  const uint32_t gate = module_->gateManager()->gateOf(*module_, Wire::IntfId("eth2"));
  Texts expected{"Service Connection result updated for wan"};
  for (int lane = 1; lane <= 3; ++lane) {
    expected.push_back(fmt::format("updLocalExitResult: removing gate for eth1 from exitoption localExit:wan@10.{}", lane));
    expected.push_back(fmt::format("Updating local result intf=eth2 vrf=default gate={} aux=7 type=localDefaultVrf into exitOption localExit:wan@10.{}", gate, lane));
  }
  EXPECT_EQ(notes, expected);
}

TEST_P(IeExitOptionStatusSmTest, RemovingAUsableOptionTracesEveryStep) {
  intf("eth1");
  conn("wan", "eth1", "default");
  option(pair(10, 1), "G", "localExit:wan");
  start();
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, (1u << 6) | (1u << 7) | (1u << 8));
  option(pair(10, 1), "G", "localExit:wan", false);
  EXPECT_EQ(IeTest::levelled(capture, Flo::kDefaultTraceName), (Texts{
      "8 k: localExit:wan@10.1",
      "7 optToGrpMap = from( config.statusConfig[].exitGroupStatusConfig[].exitOption[] ): egKey=G@10.1 exitOptKey=localExit:wan@10.1 isAdd=false",
      "8 optToGrpMap : exit-option localExit:wan@10.1 updated in exit-group G@10.1",
      "8 optToGrpMap: removing gate for eth1 from exitoption localExit:wan@10.1",
      "7 into( temp ): inserting value=true",
      "7 into( exitOptionDir.exitOptionStatus[ exitOptKey ].group[ egKey ] ): deleting k1=localExit:wan@10.1, k2=G@10.1",
      "7 updAnonymousResult = merge( optToGrpMap, defRouteResult ): exitOptKey=localExit:wan@10.1",
      "6 filter( ( exitOptKey.exitKey.type == ExitType::fibDefault() ) ) failed, terminating pipeline",
      "7 updLocalExitResult = merge( optToGrpMap, evalIeModule, connResult, orbcsdIntf ): inputOptKey=localExit:wan@10.1 remIntfOpt=None",
      "7 Line 342: merge( updLocalExitResult ): inputOptKey=localExit:wan@10.1 remIntfOpt=None",
      "7 Line 342: merge( flo_pipeline0, flo_pipeline1 ): exitOptKey=localExit:wan@10.1 remIntfOpt=None",
      "6 filter( exitOptionDir.exitOptionStatus[ exitOptKey ] ) failed, terminating pipeline",
      "7 updRemoteExitResult = merge( optToGrpMap, evalIeModule, svcReslvResp ): exitOptKey=localExit:wan@10.1",
      "6 filter( ( exitOptKey.exitKey.type == ExitType::remoteExit() ) ) failed, terminating pipeline"}));
}

// The module's departure changes no result: each keeps its gate until it is next evaluated.
TEST_P(IeExitOptionStatusSmTest, ModuleDepartureLeavesEveryResultItsGate) {
  intf("eth1");
  conn("wan", "eth1", "default");
  option(pair(10, 1), "G", "localExit:wan");
  start();
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, 1u << 6);
  orbcsd_->internetExitModuleIs(nullptr);
  EXPECT_TRUE(capture.contains("filter( ( this.ready && ieModule ) ) failed, terminating pipeline"));
  const auto* status = dir_->exitOptionStatus.lookup(optKey("localExit:wan@10.1"));
  ASSERT_NE(status, nullptr);
  EXPECT_NE(status->resultExitIntf.get().gateId, ExitIntfResult::noGate);
}

// With levels 6 or 9 on, the walks over every option take the whole collection and trace the
// filter each option fails; with them off they use indexes and trace nothing of it.
TEST_P(IeExitOptionStatusSmTest, FullWalksTraceTheFilterEachOptionFails) {
  intf("eth1");
  intf("eth2");
  conn("wan", "eth1", "default");
  conn("lan", "eth2", "default");
  for (const char* o : {"localExit:wan", "localExit:lan", "remoteExit:wan"}) option(pair(10, 1), "G", o);
  start();
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, 1u << 6);
  conn("wan", "eth2", "default");
  intf("eth2", false);
  for (const char* text : {" foreach( exitOptionDir.exitOptionStatus ) flattening 3 elements",
                           "filter( ( allOptKey.exitKey.name == inputOptKey.exitKey.name ) ) failed, terminating pipeline",
                           "filter( ( exitOptKey.exitKey.type == ExitType::localExit() ) ) failed, terminating pipeline",
                           "filter( ( exitOptionStatus.resultExitIntf.intfId == intfId ) ) failed, terminating pipeline"}) {
    EXPECT_TRUE(capture.contains(text)) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, IeExitOptionStatusSmTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
