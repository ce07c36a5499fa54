#include "Orb/OrbInternetExitStatusSm/IeRemoteSvcResolverRequestSm.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <set>
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
using Requests = std::set<std::string>;

using IeTest::pair;

// Logs the writes that reach svcReqDir ("+K" / "-K"): an unchanged request set means none.
IeTest::TreeLog requestLog(const Mica::Ptr<SvcResolverRequestDir>& dir) {
  return IeTest::TreeLog(dir, [dir](const Mica::Entity&, Mica::AttrId, const void* key, const void*) {
    const auto& k = *static_cast<const VniLaneSvcGroupName*>(key);
    return fmt::format("{}{}", dir->resolverRequest.contains(k) ? '+' : '-', k);
  });
}

class IeRemoteSvcResolverRequestSmTest : public IeTest::ModeFixture {
 protected:
  void start() {
    sm_ = ieRemoteSvcResolverRequestSmFactory(options_, requests_, control());
    runUntilIdle();
    ASSERT_TRUE(sm_->idle());
  }
  // The status entry of an option as its writer leaves it: in one group of its pair.
  Mica::Ptr<ExitOptionStatus> option(const char* name, ExitType type, VniAndLaneId v) {
    auto entry = options_->exitOptionStatusIs(ExitVniLaneKey(ExitKey(name, type), v));
    entry->groupIs(GroupVniLaneKey("G", v));
    return entry;
  }
  void drop(const char* name, ExitType type) { options_->exitOptionStatusDel(ExitVniLaneKey(ExitKey(name, type), v_)); }
  Requests requests() const {
    Requests out;
    for (const auto& k : requests_->resolverRequest) out.insert(fmt::format("{}", k));
    return out;
  }

  const VniAndLaneId v_ = pair(1, 2);
  Blip::TraceHandle blip_{16};
  Mica::Ptr<IeExitOptionDir> options_{new IeExitOptionDir()};
  Mica::Ptr<SvcResolverRequestDir> requests_{new SvcResolverRequestDir()};
  Mica::Ptr<IeRemoteSvcResolverRequestSm> sm_;
};

TEST_P(IeRemoteSvcResolverRequestSmTest, OneRequestPerRemoteEntryWhateverItsContents) {
  option("S", ExitType::remoteExit(), v_);
  option("wan", ExitType::localExit(), v_);
  start();
  option("fib", ExitType::fibDefault(), v_);
  auto other = option("S", ExitType::remoteExit(), pair(3, 4));
  EXPECT_EQ(requests(), (Requests{"S@1.2", "S@3.4"}));

  auto log = requestLog(requests_);
  ExitIntfResult resolved;
  resolved.auxId = 9;
  resolved.resultType = ExitResultType::remoteResolved();
  other->resultExitIntfIs(resolved);
  other->groupIs(GroupVniLaneKey("H", pair(3, 4)));
  drop("S", ExitType::remoteExit());
  drop("wan", ExitType::localExit());
  EXPECT_EQ(log.events, Texts{"-S@1.2"});
  // Retraction of the whole input: the changes inside entries were no missed notifications.
  sm_->doDeleteAll();
  EXPECT_TRUE(requests().empty());
}

TEST_P(IeRemoteSvcResolverRequestSmTest, TracesAnAddAndADeleteWithTheirTextsAndLevels) {
  control_.qtHandle = &blip_;
  IeTest::TraceLevels levels(Flo::kDefaultTraceName, 0x7u << 6);
  start();
  Mica::TraceCapture capture;
  option("wan", ExitType::localExit(), v_);
  option("S", ExitType::remoteExit(), v_);
  drop("S", ExitType::remoteExit());
  EXPECT_EQ(IeTest::levelled(capture, Flo::kDefaultTraceName, "|", false), (Texts{
      "7|exitOptUpd = from( exitOptionDir.exitOptionStatus[] ): exitOptKey=localExit:wan@1.2 exitOpt=Optional( localExit:wan@1.2 )",
      "6|filter( ( exitOptKey.exitKey.type == ExitType::remoteExit() ) ) failed, terminating pipeline",
      "7|exitOptUpd = from( exitOptionDir.exitOptionStatus[] ): exitOptKey=remoteExit:S@1.2 exitOpt=Optional( remoteExit:S@1.2 )",
      "8|Updating the service resolver request for S@1.2, isAdd true",
      "7|into( svcReqDir.resolverRequest[ vniLaneSvcGrpName ] ): inserting k1=S@1.2",
      "7|exitOptUpd = from( exitOptionDir.exitOptionStatus[] ): exitOptKey=remoteExit:S@1.2 exitOpt=None",
      "8|Updating the service resolver request for S@1.2, isAdd false",
      "7|into( svcReqDir.resolverRequest[ vniLaneSvcGrpName ] ): deleting k1=S@1.2"}));
  EXPECT_EQ(blip_.decoded(), (Texts{"Updating the service resolver request for S@1.2, isAdd true",
                                    "Updating the service resolver request for S@1.2, isAdd false"}));
}

INSTANTIATE_TEST_SUITE_P(Modes, IeRemoteSvcResolverRequestSmTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
