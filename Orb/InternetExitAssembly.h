// InternetExitAssembly: the whole library as an agent runs it.
//
// An embedding agent hands over the entities it owns or receives from other agents (lane status,
// configuration, the engine's common state, the connection status and the service resolver's
// directories) and one SmControl; the assembly creates the outputs (or takes those an earlier
// run left), then the ten state machines on that control, in data-flow order:
//
//   IePolicyToVniLaneSm ─> IeStatusConfigSm ─> IeGroupToPolicySm ──────────────────────┐
//          │                     │                                                     │
//          └─> VniLaneDefaultRouteTrackerSm <─ VniDefaultRouteTrackerSm <─ orbcsd      │
//                     │          │                                                     │
//                     └─> IeExitOptionStatusSm ─> IeRemoteSvcResolverRequestSm         │
//                                │                                                     │
//                                └─> IeExitGroupStatusSm ─> IePolicyStatusSm <─────────┘
//                                                                 │
//                                                                 └─> IeProgramDpSm ─> data path
//
// and, when asked, first the InternetExit and SiEdge modules, the first of which it sets as
// orbcsd.internetExitModule (the module the state machines program and take gates from), so that
// the state machines find it in place and send each command once.
//
// Each component can be stopped and started again on its own (an agent restarting one state
// machine): outputs stay as they are, and a component started over them reconciles them. Any
// order of creation converges to the same outputs; data-flow order does the least work.
//
// Contract: the agent keeps the assembly alive while the library runs; destroying it stops every
// state machine (last created first) and leaves the outputs to the agent, except the two
// default-route sets, which their trackers empty when they stop.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "Orb/OrbInternetExitStatusSm.h"
#include "Orb/OrbSiEdgeHelper.h"
#include "Orb/OrbSiEdgeModule.h"
#include "platform/agents/LaneStatusDir.h"
#include "platform/agents/SiConnectionStatusDir.h"
#include "platform/agents/SvcInUseNotificationDir.h"
#include "platform/agents/SvcResolverDirs.h"

namespace OrbInternetExit {

// The entities the agent hands over. None may be null.
struct AgentEntities {
  Mica::Ptr<const Lane::LaneStatusDir> laneStatusDir;
  Mica::Ptr<const InternetExitCliConfig> config;
  Mica::Ptr<Orb::OrbCommonSmData> orbcsd;  // written only to set the module the assembly makes
  Mica::Ptr<const SiConnectionStatusDir> connStatusDir;
  Mica::Ptr<const SvcResolverResponseDir> svcRespDir;
  Mica::Ptr<SvcResolverRequestDir> svcReqDir;
  Mica::Ptr<SvcInUseNotificationDir> svcNotifDir;
};

// The library's outputs. create() makes them empty, in the order the agent creates them.
struct LibraryOutputs {
  Mica::Ptr<IePolicyToVniLaneDir> policyToVniLane;
  Mica::Ptr<IeStatusConfigDir> statusConfig;
  Mica::Ptr<IeExitOptionDir> exitOption;
  Mica::Ptr<IeExitGroupDir> exitGroup;
  Mica::Ptr<IeGroupToPolicyDir> groupToPolicy;
  Mica::Ptr<IePolicyDir> policy;
  Mica::Ptr<OrbL3Unicast::DefaultRoutePresentInVni> vniDefaultRoute;
  Mica::Ptr<OrbL3Unicast::DefaultRoutePresentForVniLane> vniLaneDefaultRoute;
  static LibraryOutputs create();
};

// The state machines, in data-flow order (the order startAll() creates them in).
enum class Component : uint8_t {
  policyToVniLane,
  statusConfig,
  groupToPolicy,
  vniDefaultRoute,
  vniLaneDefaultRoute,
  exitOptionStatus,
  resolverRequest,
  exitGroupStatus,
  policyStatus,
  programDp,
};
inline constexpr size_t kComponentCount = 10;
// "IePolicyToVniLaneSm", ..., "VniDefaultRouteTrackerSm", ...
std::string_view componentName(Component c) noexcept;

// The data-path modules the assembly may create. Gate counts as the module factories take them.
struct ModuleOptions {
  bool internetExit = false;  // also set as orbcsd.internetExitModule
  bool siEdge = false;
  uint32_t maxInGate = 1;
  uint32_t maxOutGate = 64;
  uint32_t reservedInGate = 0;
  uint32_t reservedOutGate = 1;
};

class InternetExitAssembly {
 public:
  // REQUIRES: every entity of `inputs` and `outputs` not null, control.taskScheduler not null
  // (else the assertion naming the first one missing). Creates nothing yet.
  InternetExitAssembly(AgentEntities inputs, LibraryOutputs outputs, const Flo::SmControl& control);
  ~InternetExitAssembly();
  InternetExitAssembly(const InternetExitAssembly&) = delete;
  InternetExitAssembly& operator=(const InternetExitAssembly&) = delete;

  // Creates the modules asked for (the InternetExit one set in orbcsd), then every component not
  // running, in data-flow order.
  void startAll(const ModuleOptions& modules = {});
  // Stops every component, last created first, and drops the modules the assembly made (their
  // attribute in orbcsd is cleared first).
  void stopAll();
  // Creates one component over the current outputs (a no-op when it runs).
  void start(Component c);
  // Destroys one component; its outputs stay (the trackers empty theirs).
  void stop(Component c);
  bool running(Component c) const noexcept { return sms_[index(c)] != nullptr; }

  // Every running state machine ready / ready and with no pending scan.
  bool ready() const;
  bool idle() const;

  const AgentEntities& inputs() const noexcept { return inputs_; }
  const LibraryOutputs& outputs() const noexcept { return outputs_; }
  const Flo::SmControl& control() const noexcept { return control_; }
  const Mica::Ptr<Orb::InternetExit>& internetExitModule() const noexcept { return internetExit_; }
  const Mica::Ptr<Orb::SiEdge>& siEdgeModule() const noexcept { return siEdge_; }
  // The configuration/status pair of the InternetExit module made here, whose commands the data
  // path drains (null when none was made).
  const Mica::Ptr<Orb::ModuleConfigStatusPair>& internetExitPair() const noexcept { return internetExitPair_; }
  // The running component `c` (null when stopped), e.g. sm<IeExitOptionStatusSm>(Component::exitOptionStatus).
  template <class T>
  T* sm(Component c) const noexcept {
    return static_cast<T*>(sms_[index(c)].get());
  }

 private:
  static size_t index(Component c) noexcept { return static_cast<size_t>(c); }
  Mica::Ptr<Mica::Node> create(Component c);
  // Whether `pred` holds for every running state machine (the trackers, plain reactors, count as
  // ready and idle).
  template <class Pred>
  bool everyStateMachine(Pred&& pred) const;

  AgentEntities inputs_;
  LibraryOutputs outputs_;
  Flo::SmControl control_;
  std::array<Mica::Ptr<Mica::Node>, kComponentCount> sms_;
  Mica::Ptr<Orb::ModuleConfigStatusPair> internetExitPair_;
  Mica::Ptr<Orb::ModuleConfigStatusPair> siEdgePair_;
  Mica::Ptr<Orb::InternetExit> internetExit_;
  Mica::Ptr<Orb::SiEdge> siEdge_;
};

}  // namespace OrbInternetExit
