// The task names and per-output traces that operators see in the scheduler and in traces.
#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "Orb/OrbInternetExitStatusSm/IeExitGroupStatusSm.h"
#include "Orb/OrbInternetExitStatusSm/IeExitOptionStatusSm.h"
#include "Orb/OrbInternetExitStatusSm/IeGroupToPolicySm.h"
#include "Orb/OrbInternetExitStatusSm/IePolicyStatusSm.h"
#include "Orb/OrbInternetExitStatusSm/IeRemoteSvcResolverRequestSm.h"
#include "Orb/OrbInternetExitStatusSm/IeStatusConfigSm.h"
#include "platform/trace/Trace.h"
#include "tests/support/TraceLevels.h"

namespace OrbInternetExit {
namespace {

struct NameRecorder : Keel::TaskRunObserver {
  std::set<std::string> names;
  void taskRan(const Keel::Task& task, uint64_t, uint64_t, uint64_t) override { names.insert(task.taskName()); }
};

class TaskNamesTest : public testing::Test {
 protected:
  TaskNamesTest() {
    scheduler_->runObserverIs(&recorder_);
    control_.taskScheduler = scheduler_;
  }

  // Runs `sm` to readiness: its tasks and its outputs' traces carry exactly these names.
  void expectNamed(const Mica::Ptr<Flo::StateMachine>& sm, std::initializer_list<const char*> tasks,
                   std::initializer_list<const char*> reconciling) {
    scheduler_->runUntilIdle();
    ASSERT_TRUE(sm->ready());
    for (const char* name : tasks) EXPECT_TRUE(recorder_.names.contains(name)) << name;
    for (const char* text : reconciling) EXPECT_TRUE(capture_.contains(text)) << text;
  }

  Mica::Ptr<Keel::TaskScheduler> scheduler_{new Keel::TaskScheduler()};
  NameRecorder recorder_;
  Flo::SmControl control_;
  IeTest::TraceCaptureAt capture_{"OrbInternetExitStatusSm", 1u << 9};
};

TEST_F(TaskNamesTest, StatusConfigBuilderNamesItsTasksAndOutputs) {
  Mica::Ptr<InternetExitCliConfig> config(new InternetExitCliConfig());
  Mica::Ptr<IePolicyToVniLaneDir> bindings(new IePolicyToVniLaneDir());
  Mica::Ptr<IeStatusConfigDir> out(new IeStatusConfigDir());
  out->statusConfigIs(VniAndLaneId(Lane::VniId(1), 1));  // stale: the top-level output reconciles
  auto sm = ieStatusConfigSmFactory(config, bindings, out, control_);
  expectNamed(sm, {"OrbInternetExit::IeStatusConfigSm-ConfigSm1InputScanTask0",
                   "OrbInternetExit::IeStatusConfigSm-ConfigSm1InputScanTask1",
                   "OrbInternetExit::IeStatusConfigSm-IePolicyToVniLaneDirSm2InputScanTask2",
                   "OrbInternetExit::IeStatusConfigSm-ConfigSm1InputScanTask3",
                   "OrbInternetExit::IeStatusConfigSm-ConfigSm1InputScanTask4",
                   "IeStatusConfigSm-statusCfgDirStatusConfigOutputTask",
                   "IeStatusConfigSm-orbInternetExitIeStatusConfigPtrExitGroupStatusConfigOutputTask",
                   "IeStatusConfigSm-orbInternetExitIeStatusConfigPtrPolicyStatusConfigExitGroupExitGroupOutputTask",
                   "IeStatusConfigSm-orbInternetExitExitGroupStatusConfigPtrExitOptionOutputTask"},
              {"Reconciling statusCfgDirStatusConfigOutput: true",
               "Reconciling orbInternetExitExitGroupStatusConfigPtrExitOptionOutput: true"});
}

TEST_F(TaskNamesTest, ReverseMapNamesItsTasksAndOutput) {
  auto sm = ieGroupToPolicySmFactory(Mica::make<IeStatusConfigDir>(), Mica::make<IeGroupToPolicyDir>(), control_);
  expectNamed(sm, {"OrbInternetExit::IeGroupToPolicySm-ConfigSm6InputScanTask0",
                   "IeGroupToPolicySm-groupToPolicyDirGroupToPolicyPolicyOutputTask"},
              {"Reconciling groupToPolicyDirGroupToPolicyPolicyOutput: false"});
}

TEST_F(TaskNamesTest, ExitOptionStatusNamesItsTasksAndOutputs) {
  Mica::Ptr<IeExitOptionDir> out(new IeExitOptionDir());
  out->exitOptionStatusIs(*Mica::sequenceToValue<ExitVniLaneKey>("fibDefault:@1.1"))
      ->groupIs(GroupVniLaneKey(Mica::String("G"), VniAndLaneId(Lane::VniId(1), 1)));  // stale
  auto sm = ieExitOptionStatusSmFactory(Mica::make<IeStatusConfigDir>(), Mica::make<Orb::OrbCommonSmData>(),
                                        Mica::make<SiConnectionStatusDir>(), Mica::make<SvcResolverResponseDir>(),
                                        OrbL3Unicast::defaultRoutePresentForVniLaneFactory(), out, control_);
  expectNamed(sm, {"OrbInternetExit::IeExitOptionStatusSm-ConfigSm10InputScanTask0",
                   "OrbInternetExit::IeExitOptionStatusSm-DefaultRouteDirSm13InputScanTask1",
                   "OrbInternetExit::IeExitOptionStatusSm-ConnStatusDirSm14InputScanTask2",
                   "OrbInternetExit::IeExitOptionStatusSm-OrbcsdSm16InputScanTask3",
                   "OrbInternetExit::IeExitOptionStatusSm-OrbcsdSm16InputScanTask4",
                   "OrbInternetExit::IeExitOptionStatusSm-SvcRespDirSm17InputScanTask5",
                   "IeExitOptionStatusSm-exitOptionDirExitOptionStatusGroupOutputTask"},
              {"Reconciling exitOptionDirExitOptionStatusGroupOutput: true"});
}

TEST_F(TaskNamesTest, PolicyStatusNamesItsTasksAndOutput) {
  Mica::Ptr<IePolicyDir> out(new IePolicyDir());
  out->policyStatusIs(PolicyVniLaneKey(Mica::String("P"), VniAndLaneId(Lane::VniId(1), 1)))
      ->exitIntfIs(ExitIntfResult());  // stale
  auto sm = iePolicyStatusSmFactory(Mica::make<IeStatusConfigDir>(), Mica::make<IeExitGroupDir>(),
                                    Mica::make<IeGroupToPolicyDir>(), out, control_);
  expectNamed(sm, {"OrbInternetExit::IePolicyStatusSm-ConfigSm24InputScanTask0",
                   "OrbInternetExit::IePolicyStatusSm-GroupToPolicyDirSm28InputScanTask1",
                   "OrbInternetExit::IePolicyStatusSm-ExitGroupDirSm30InputScanTask2",
                   "IePolicyStatusSm-policyDirPolicyStatusExitIntfOutputTask"},
              {"Reconciling policyDirPolicyStatusExitIntfOutput: true"});
}

TEST_F(TaskNamesTest, ResolverRequestsNameTheirTasksAndOutput) {
  Mica::Ptr<SvcResolverRequestDir> out(new SvcResolverRequestDir());
  out->resolverRequestIs(VniLaneSvcGroupName("S", VniAndLaneId(Lane::VniId(1), 1)));  // stale
  auto sm = ieRemoteSvcResolverRequestSmFactory(Mica::make<IeExitOptionDir>(), out, control_);
  expectNamed(sm, {"OrbInternetExit::IeRemoteSvcResolverRequestSm-ExitOptionDirSm18InputScanTask0",
                   "IeRemoteSvcResolverRequestSm-svcReqDirResolverRequestOutputTask"},
              {"Reconciling svcReqDirResolverRequestOutput: true"});
}

TEST_F(TaskNamesTest, ExitGroupStatusNamesItsTasksAndOutput) {
  Mica::Ptr<IeExitGroupDir> out(new IeExitGroupDir());
  out->exitGroupStatusIs(GroupVniLaneKey(Mica::String("G"), VniAndLaneId(Lane::VniId(1), 1)))
      ->resultIs(*Mica::sequenceToValue<ExitVniLaneKey>("fibDefault:@1.1"), ExitIntfResult());  // stale
  auto sm = ieExitGroupStatusSmFactory(Mica::make<IeStatusConfigDir>(), Mica::make<IeExitOptionDir>(), out, control_);
  expectNamed(sm, {"OrbInternetExit::IeExitGroupStatusSm-ConfigSm19InputScanTask0",
                   "OrbInternetExit::IeExitGroupStatusSm-ExitOptionDirSm22InputScanTask1",
                   "OrbInternetExit::IeExitGroupStatusSm-ExitOptionDirSm22InputScanTask2",
                   "IeExitGroupStatusSm-exitGroupDirExitGroupStatusResultOutputTask"},
              {"Reconciling exitGroupDirExitGroupStatusResultOutput: true"});
  // The option statuses are followed first: their first passes run before the configuration's.
  std::vector<std::string> firstPasses;
  for (const std::string& t : capture_.texts(9)) {
    if (t.ends_with(" initial scan, and parent scan, complete.")) firstPasses.push_back(t.substr(0, t.find(' ')));
  }
  EXPECT_EQ(firstPasses, (std::vector<std::string>{"ExitOptionDirSm22", "ExitOptionDirSm22", "ConfigSm19"}));
}

}  // namespace
}  // namespace OrbInternetExit
