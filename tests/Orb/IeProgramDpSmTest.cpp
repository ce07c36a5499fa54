#include "Orb/OrbInternetExitStatusSm/IeProgramDpSm.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Orb/OrbSiEdgeModule.h"
#include "platform/trace/Trace.h"
#include "proto/orb.pb.h"
#include "tests/support/SmTestSupport.h"
#include "tests/support/TraceLevels.h"

namespace OrbInternetExit {
namespace {

using Texts = std::vector<std::string>;

using IeTest::pair;
const PolicyVniLaneKey kP(Mica::String("P"), pair(1, 2));
ExitIntfResult local(const char* intf) {
  return ExitIntfResult(Wire::IntfId(intf), "default", 5, 1, ExitResultType::localDefaultVrf());
}
ExitIntfResult remote(uint32_t auxId) {
  return ExitIntfResult(Wire::IntfId(), "default", ExitIntfResult::noGate, auxId, ExitResultType::remoteResolved());
}

// Records, in one sequence, the notifications written and the commands queued: "+1.2/7",
// "-1.2/7", "add <intf>/<aux>", "del <intf>/<aux>".
class Journal final : private Mica::Subscriber {
 public:
  Journal(Mica::Ptr<SvcInUseNotificationDir> notif, Mica::Ptr<Orb::ModuleConfig> config)
      : notif_(std::move(notif)), config_(std::move(config)) {
    notif_->subscriberAdd(this);
    config_->subscriberAdd(this);
  }
  ~Journal() {
    notif_->subscriberRemove(this);
    config_->subscriberRemove(this);
  }
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  Texts events;

 private:
  void onNotification(Mica::AttrId attr, const void* key, const void*) override {
    if (key != nullptr && attr == SvcInUseNotificationDir::svcNotificationId) {
      const auto& k = *static_cast<const LaneSvcRemoteGroup*>(key);
      events.push_back(fmt::format("{}{}", notif_->svcNotification.contains(k) ? '+' : '-', k));
      return;
    }
    const Orb::ModuleCmdBase& cmd = *config_->pending().back();
    const auto& arg = dynamic_cast<const orb::pb::IeLaneToExitInfoArg&>(*cmd.arg());
    const std::string intf(Wire::IntfId::fromValue(arg.result().intf_id())->name().view());
    events.push_back(fmt::format("{} {}/{}", cmd.cmdName().view().substr(0, 3), intf, arg.result().aux_id()));
  }
  Mica::Ptr<SvcInUseNotificationDir> notif_;
  Mica::Ptr<Orb::ModuleConfig> config_;
};

class IeProgramDpSmTest : public IeTest::ModeFixture {
 protected:
  IeProgramDpSmTest() {
    module_ = Orb::internetExitFactory("ie1", Orb::OrbModule::ModuleClass::forwarding, 4, 64, 1, 2, modulePair_,
                                       orbcsd_);
    orbcsd_->internetExitModuleIs(module_);
  }
  // The module holds orbcsd and orbcsd the module: the attribute goes first.
  ~IeProgramDpSmTest() override {
    sm_ = nullptr;
    orbcsd_->internetExitModuleIs(nullptr);
  }
  void start() {
    sm_ = ieProgramDpSmFactory(orbcsd_, policies_, notif_, control());
    runUntilIdle();
  }
  void exitIntf(const ExitIntfResult& r, bool add = true) {
    if (add) {
      policies_->policyStatusIs(kP)->exitIntfIs(r);
    } else {
      policies_->policyStatus.get(kP)->exitIntfDel(r);
    }
    runUntilIdle();
  }

  Mica::Ptr<Orb::OrbCommonSmData> orbcsd_ = Mica::make<Orb::OrbCommonSmData>();
  Mica::Ptr<Orb::ModuleConfigStatusPair> modulePair_ = Mica::make<Orb::ModuleConfigStatusPair>();
  Mica::Ptr<Orb::InternetExit> module_;
  Mica::Ptr<IePolicyDir> policies_ = Mica::make<IePolicyDir>();
  Mica::Ptr<SvcInUseNotificationDir> notif_ = Mica::make<SvcInUseNotificationDir>();
  Mica::Ptr<IeProgramDpSm> sm_;
  Journal journal_{notif_, modulePair_->config()};
};

TEST_P(IeProgramDpSmTest, RemoteResultsAnnounceTheirGroupBeforeTheCommand) {
  start();
  exitIntf(local("eth1"));
  exitIntf(remote(0x10007));  // the key keeps the low 16 bits, the command all 32
  exitIntf(remote(0x10007), false);
  exitIntf(local("eth1"), false);
  EXPECT_EQ(journal_.events, (Texts{"add eth1/1", "+1.2/7", "add /65543", "-1.2/7", "del /65543", "del eth1/1"}));
}

// A result removed while the module is absent stops at the module's filter. (The texts of a
// remote add and of the module's departure are pinned by the simulator's golden program_dp.)
TEST_P(IeProgramDpSmTest, ARemovalWithoutModuleStopsAtTheModuleFilter) {
  start();
  exitIntf(remote(3));
  orbcsd_->internetExitModuleIs(nullptr);
  runUntilIdle();
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, 1u << 6);
  exitIntf(remote(3), false);
  EXPECT_TRUE(capture.contains("filter( orbcsdOpt.internetExitModule ) failed, terminating pipeline"));
  EXPECT_EQ(journal_.events, (Texts{"+1.2/3", "add /3"}));
}

INSTANTIATE_TEST_SUITE_P(Modes, IeProgramDpSmTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
