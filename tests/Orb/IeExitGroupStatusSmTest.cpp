#include "Orb/OrbInternetExitStatusSm/IeExitGroupStatusSm.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/SmTestSupport.h"
#include "tests/support/TreeLog.h"

namespace OrbInternetExit {
namespace {

using Texts = std::vector<std::string>;

GroupVniLaneKey grp(std::string_view text) { return *Mica::sequenceToValue<GroupVniLaneKey>(text); }
ExitVniLaneKey opt(std::string_view text) { return *Mica::sequenceToValue<ExitVniLaneKey>(text); }
ExitIntfResult up(uint32_t gate) {
  return ExitIntfResult(Wire::IntfId("eth1"), "default", gate, 7, ExitResultType::localDefaultVrf());
}

// The output's changes: "+G" / "-G" for group entries, "+G O r" / "=G O r" / "-G O" for results.
IeTest::TreeLog outputLog(const Mica::Ptr<IeExitGroupDir>& dir) {
  return IeTest::TreeLog(dir, [dir](const Mica::Entity& source, Mica::AttrId, const void* key, const void* old) {
    if (&source == dir.get()) {
      const auto& g = *static_cast<const GroupVniLaneKey*>(key);
      return fmt::format("{}{}", dir->exitGroupStatus.contains(g) ? '+' : '-', g);
    }
    const auto& status = static_cast<const ExitGroupStatus&>(source);
    const auto& o = *static_cast<const ExitVniLaneKey*>(key);
    const ExitIntfResult* now = status.result.lookup(o);
    if (!now) return fmt::format("-{} {}", status.key(), o);
    return fmt::format("{}{} {} {}", old ? '=' : '+', status.key(), o, *now);
  });
}

class IeExitGroupStatusSmTest : public IeTest::ModeFixture {
 protected:
  void start() {
    sm_ = ieExitGroupStatusSmFactory(config_, options_, dir_, control());
    runUntilIdle();
    ASSERT_TRUE(sm_->ready());
  }
  // The group's status configuration lists the option.
  void listed(std::string_view g, std::string_view o) {
    const GroupVniLaneKey k = grp(g);
    config_->statusConfigIs(k.vniLaneId)->exitGroupStatusConfigIs(k)->exitOptionIs(opt(o));
    runUntilIdle();
  }
  // The option's status lists the group.
  void member(std::string_view o, std::string_view g) {
    options_->exitOptionStatusIs(opt(o))->groupIs(grp(g));
    runUntilIdle();
  }
  void result(std::string_view o, const ExitIntfResult& r) {
    options_->exitOptionStatusIs(opt(o))->resultExitIntfIs(r);
    runUntilIdle();
  }
  // Everything at once: listed in g's configuration, the status lists g, result r.
  void usable(std::string_view g, std::string_view o, const ExitIntfResult& r) {
    listed(g, o);
    member(o, g);
    result(o, r);
  }

  Mica::Ptr<IeStatusConfigDir> config_ = Mica::make<IeStatusConfigDir>();
  Mica::Ptr<IeExitOptionDir> options_ = Mica::make<IeExitOptionDir>();
  Mica::Ptr<IeExitGroupDir> dir_ = Mica::make<IeExitGroupDir>();
  Mica::Ptr<IeExitGroupStatusSm> sm_;
};

// A usable result that changes is overwritten in place, in every group that counts it.
TEST_P(IeExitGroupStatusSmTest, AChangedUsableResultIsOverwrittenInPlace) {
  usable("G@10.1", "localExit:a@10.1", up(1));
  usable("H@10.1", "localExit:a@10.1", up(1));
  start();
  auto log = outputLog(dir_);
  result("localExit:a@10.1", up(9));
  const std::string r = fmt::format("{}", up(9));
  EXPECT_EQ(log.events, (Texts{"=G@10.1 localExit:a@10.1 " + r, "=H@10.1 localExit:a@10.1 " + r}));
}

INSTANTIATE_TEST_SUITE_P(Modes, IeExitGroupStatusSmTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
