#include "Orb/OrbInternetExitStatusSm/IeExitGroupStatusSm.h"

#include <fmt/format.h>
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

// H is in the option's status but not in its configuration: the change takes the option out of
// H. (The texts of an option's removal are pinned by the simulator's golden exit_option_status.)
TEST_P(IeExitGroupStatusSmTest, OneResultChangeTracesEveryStep) {
  usable("G@10.1", "localExit:a@10.1", up(1));
  member("localExit:a@10.1", "H@10.1");  // not in H's configuration
  start();
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, (1u << 6) | (1u << 7) | (1u << 8) | (1u << 9));
  Blip::defaultHandle()->clear();
  result("localExit:a@10.1", up(2));
  const Texts texts = IeTest::levelled(capture, Flo::kDefaultTraceName);
  const std::string r = fmt::format("{}", up(2));
  const Texts notes{"result " + r + " updated in exitOption localExit:a@10.1, populate it in groups",
                    "exitOpt localExit:a@10.1 health updated to Up(Add) with result " + r,
                    "exitOpt localExit:a@10.1 health updated to Down(Remove) with result None"};
  EXPECT_EQ(texts, (Texts{
      "7 updExitOptResult = from( exitOptionDir.exitOptionStatus[].resultExitIntf ): exitOptKey=localExit:a@10.1 result=" + r,
      "8 " + notes[0],
      "6  foreach( ( *exitOptionDir.exitOptionStatus[ exitOptKey ] ).group ) flattening 2 elements",
      "9 Flattening element: G@10.1",
      "7 evalGroupResult = merge( updExitOptInGrp, updOptToGrpMap, updExitOptResult ): groupKey=G@10.1 exitOptKey=localExit:a@10.1",
      "8 " + notes[1],
      "7 into( exitGroupDir.exitGroupStatus[ groupKey ].result[ exitOptKey ] ): inserting k1=G@10.1, k2=localExit:a@10.1, value=" + r,
      "9 Flattening element: H@10.1",
      "7 evalGroupResult = merge( updExitOptInGrp, updOptToGrpMap, updExitOptResult ): groupKey=H@10.1 exitOptKey=localExit:a@10.1",
      "8 " + notes[2]}));
  EXPECT_EQ(Blip::defaultHandle()->decoded(), notes);
}

INSTANTIATE_TEST_SUITE_P(Modes, IeExitGroupStatusSmTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
