// Embeds the installed library the way an agent does: one header, the assembly, the scheduler.
//
// Lane 10.1 is bound to policy Gold, whose exit group Primary has one local exit, connection
// wan1 on interface eth1. Once the scheduler is idle, Gold has a status on that pair and the
// InternetExit module has queued the command that gives the pair its exit through eth1.
#include <cstdio>

#include "InternetExit.h"
#include "platform/module/DataPathModel.h"  // a model of the data path, to read what was queued

using namespace OrbInternetExit;

namespace {
int fail(const char* what) {
  std::fprintf(stderr, "consumer: %s\n", what);
  return 1;
}
}  // namespace

int main() {
  const Lane::VniAndLaneId lane(Lane::VniId(10), 1);

  // What the other agents and the operator provide.
  auto lanes = Mica::make<Lane::LaneStatusDir>();
  lanes->laneToIEMapIs(lane, Mica::String("Gold"));

  auto config = Mica::make<InternetExitCliConfig>();
  config->exitGroupConfigIs(Mica::String("Primary"))
      ->exitOptionIs(ExitKey(Mica::String("wan1"), ExitType::localExit()));
  config->policyConfigIs(Mica::String("Gold"))->exitGroupIs(10, Mica::String("Primary"));

  auto orbcsd = Mica::make<Orb::OrbCommonSmData>();
  auto vxlan = Mica::make<Orb::VxlanInfo>();
  vxlan->vrfToVniMapIs(Mica::String("blue"), Vxlan::VniExtOrNone(10));  // VRF blue is VNI 10
  orbcsd->vxlanInfoIs(vxlan);
  orbcsd->l3IntfIs(Wire::IntfId("eth1"));  // the interface is up

  auto connections = Mica::make<SiConnectionStatusDir>();
  connections->connectionIs(Mica::String("wan1"),
                            ResultConnIntf(Wire::IntfId("eth1"), Mica::String("blue"), 5));

  // The library: its outputs, its state machines and the InternetExit data-path module.
  Flo::SmControl control;
  control.taskScheduler = Keel::TaskSchedulerRoot::findOrCreateScheduler();
  AgentEntities inputs{lanes,
                       config,
                       orbcsd,
                       connections,
                       Mica::make<SvcResolverResponseDir>(),
                       Mica::make<SvcResolverRequestDir>(),
                       Mica::make<SvcInUseNotificationDir>()};
  InternetExitAssembly assembly(inputs, LibraryOutputs::create(), control);
  assembly.startAll(ModuleOptions{.internetExit = true});
  control.taskScheduler->runUntilIdle();
  if (!assembly.ready()) return fail("the library is not ready");

  // Gold won with Primary on 10.1.
  const PolicyStatus* gold =
      assembly.outputs().policy->policyStatus.lookup(PolicyVniLaneKey(Mica::String("Gold"), lane));
  if (gold == nullptr) return fail("Gold has no status on 10.1");
  if (gold->winningExitGroup.get().groupName != Mica::String("Primary")) {
    return fail("Gold did not choose Primary");
  }

  // The data path applies what the module queued: one exit for 10.1, through eth1.
  Orb::DataPathModel dataPath(Mica::String("InternetExit"));
  dataPath.drain(*assembly.internetExitPair());
  const auto exits = dataPath.exitsOf(lane);
  if (exits.size() != 1 || exits[0].intfId != Wire::IntfId("eth1").value()) {
    return fail("the data path has no exit through eth1 for 10.1");
  }

  std::printf("consumer: ok\n");
  return 0;
}
