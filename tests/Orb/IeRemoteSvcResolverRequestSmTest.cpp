#include "Orb/OrbInternetExitStatusSm/IeRemoteSvcResolverRequestSm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "tests/support/SmTestSupport.h"
#include "tests/support/TraceLevels.h"

namespace OrbInternetExit {
namespace {

using Texts = std::vector<std::string>;

using IeTest::pair;

class IeRemoteSvcResolverRequestSmTest : public IeTest::ModeFixture {
 protected:
  void start() {
    sm_ = ieRemoteSvcResolverRequestSmFactory(options_, requests_, control());
    runUntilIdle();
    ASSERT_TRUE(sm_->idle());
  }
  // The status entry of an option as its writer leaves it: in one group of its pair.
  void option(const char* name, ExitType type) {
    options_->exitOptionStatusIs(ExitVniLaneKey(ExitKey(name, type), v_))->groupIs(GroupVniLaneKey("G", v_));
  }
  void drop(const char* name, ExitType type) { options_->exitOptionStatusDel(ExitVniLaneKey(ExitKey(name, type), v_)); }

  const VniAndLaneId v_ = pair(1, 2);
  Blip::TraceHandle blip_{16};
  Mica::Ptr<IeExitOptionDir> options_{new IeExitOptionDir()};
  Mica::Ptr<SvcResolverRequestDir> requests_{new SvcResolverRequestDir()};
  Mica::Ptr<IeRemoteSvcResolverRequestSm> sm_;
};

TEST_P(IeRemoteSvcResolverRequestSmTest, TracesAnAddAndADeleteWithTheirTextsAndLevels) {
  control_.qtHandle = &blip_;
  IeTest::TraceLevels levels(Flo::kDefaultTraceName, 0x7u << 6);
  start();
  Mica::TraceCapture capture;
  option("wan", ExitType::localExit());
  option("S", ExitType::remoteExit());
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
