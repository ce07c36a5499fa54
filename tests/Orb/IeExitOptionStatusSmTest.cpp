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
