#include "Orb/InternetExitAssembly.h"

#include "platform/mica/Assert.h"

namespace OrbInternetExit {

namespace {
constexpr std::array<std::string_view, kComponentCount> kNames{
    "IePolicyToVniLaneSm",      "IeStatusConfigSm",     "IeGroupToPolicySm",
    "VniDefaultRouteTrackerSm", "VniLaneDefaultRouteTrackerSm", "IeExitOptionStatusSm",
    "IeRemoteSvcResolverRequestSm", "IeExitGroupStatusSm", "IePolicyStatusSm", "IeProgramDpSm"};

// The trackers are plain reactors: ready as soon as they exist.
bool isTracker(Component c) { return c == Component::vniDefaultRoute || c == Component::vniLaneDefaultRoute; }
}  // namespace

std::string_view componentName(Component c) noexcept { return kNames[static_cast<size_t>(c)]; }

LibraryOutputs LibraryOutputs::create() {
  LibraryOutputs o;
  o.policyToVniLane = Mica::make<IePolicyToVniLaneDir>();
  o.statusConfig = Mica::make<IeStatusConfigDir>();
  o.exitOption = Mica::make<IeExitOptionDir>();
  o.exitGroup = Mica::make<IeExitGroupDir>();
  o.groupToPolicy = Mica::make<IeGroupToPolicyDir>();
  o.policy = Mica::make<IePolicyDir>();
  o.vniDefaultRoute = OrbL3Unicast::defaultRoutePresentInVniFactory();
  o.vniLaneDefaultRoute = OrbL3Unicast::defaultRoutePresentForVniLaneFactory();
  return o;
}

InternetExitAssembly::InternetExitAssembly(AgentEntities inputs, LibraryOutputs outputs,
                                           const Flo::SmControl& control)
    : inputs_(std::move(inputs)), outputs_(std::move(outputs)), control_(control) {
  Mica::check(inputs_.laneStatusDir != nullptr, "inputs.laneStatusDir");
  Mica::check(inputs_.config != nullptr, "inputs.config");
  Mica::check(inputs_.orbcsd != nullptr, "inputs.orbcsd");
  Mica::check(inputs_.connStatusDir != nullptr, "inputs.connStatusDir");
  Mica::check(inputs_.svcRespDir != nullptr, "inputs.svcRespDir");
  Mica::check(inputs_.svcReqDir != nullptr, "inputs.svcReqDir");
  Mica::check(inputs_.svcNotifDir != nullptr, "inputs.svcNotifDir");
  Mica::check(outputs_.policyToVniLane && outputs_.statusConfig && outputs_.exitOption && outputs_.exitGroup &&
                  outputs_.groupToPolicy && outputs_.policy && outputs_.vniDefaultRoute &&
                  outputs_.vniLaneDefaultRoute,
              "every output of the library (LibraryOutputs::create())");
  Mica::check(control_.taskScheduler != nullptr, "control.taskScheduler");
}

InternetExitAssembly::~InternetExitAssembly() { stopAll(); }

// The modules come first: state machines that find the InternetExit module in place take gates
// and send their commands once. A module set after they are ready is an arrival, which both the
// exit-option status and the data-path programming answer by evaluating and sending everything
// again (the data path then sees repeated adds).
void InternetExitAssembly::startAll(const ModuleOptions& modules) {
  if (modules.internetExit && !internetExit_) {
    internetExitPair_ = Mica::make<Orb::ModuleConfigStatusPair>();
    internetExit_ = Orb::internetExitFactory(Mica::String("InternetExit"), Orb::OrbModule::ModuleClass::forwarding,
                                             modules.maxInGate, modules.maxOutGate, modules.reservedInGate,
                                             modules.reservedOutGate, internetExitPair_, inputs_.orbcsd);
    inputs_.orbcsd->internetExitModuleIs(internetExit_);
  }
  if (modules.siEdge && !siEdge_) {
    siEdgePair_ = Mica::make<Orb::ModuleConfigStatusPair>();
    siEdge_ = Orb::siEdgeFactory(Mica::String("SiEdge"), Orb::OrbModule::ModuleClass::egress, modules.maxInGate,
                                 modules.maxOutGate, modules.reservedInGate, modules.reservedOutGate, siEdgePair_,
                                 inputs_.orbcsd);
  }
  for (size_t i = 0; i < kComponentCount; ++i) start(static_cast<Component>(i));
}

void InternetExitAssembly::stopAll() {
  // The module and orbcsd hold each other: the attribute goes before the module.
  if (internetExit_ && inputs_.orbcsd->internetExitModule.get() == internetExit_) {
    inputs_.orbcsd->internetExitModuleIs(nullptr);
  }
  for (size_t i = kComponentCount; i-- > 0;) stop(static_cast<Component>(i));
  internetExit_ = nullptr;
  siEdge_ = nullptr;
}

void InternetExitAssembly::start(Component c) {
  if (running(c)) return;
  sms_[index(c)] = create(c);
}

void InternetExitAssembly::stop(Component c) { sms_[index(c)] = nullptr; }

bool InternetExitAssembly::ready() const {
  return everyStateMachine([](const Flo::StateMachine& sm) { return sm.ready(); });
}

bool InternetExitAssembly::idle() const {
  return everyStateMachine([](const Flo::StateMachine& sm) { return sm.idle(); });
}

template <class Pred>
bool InternetExitAssembly::everyStateMachine(Pred&& pred) const {
  for (size_t i = 0; i < kComponentCount; ++i) {
    if (sms_[i] && !isTracker(static_cast<Component>(i)) && !pred(static_cast<const Flo::StateMachine&>(*sms_[i]))) {
      return false;
    }
  }
  return true;
}

Mica::Ptr<Mica::Node> InternetExitAssembly::create(Component c) {
  const LibraryOutputs& o = outputs_;
  const AgentEntities& in = inputs_;
  switch (c) {
    case Component::policyToVniLane:
      return iePolicyToVniLaneSmFactory(in.laneStatusDir, o.policyToVniLane, control_);
    case Component::statusConfig:
      return ieStatusConfigSmFactory(in.config, o.policyToVniLane, o.statusConfig, control_);
    case Component::groupToPolicy:
      return ieGroupToPolicySmFactory(o.statusConfig, o.groupToPolicy, control_);
    case Component::vniDefaultRoute:
      return OrbL3Unicast::vniDefaultRouteTrackerSmFactory(in.orbcsd, o.vniDefaultRoute);
    case Component::vniLaneDefaultRoute:
      return OrbL3Unicast::vniLaneDefaultRouteTrackerSmFactory(o.vniDefaultRoute, o.policyToVniLane,
                                                               o.vniLaneDefaultRoute);
    case Component::exitOptionStatus:
      return ieExitOptionStatusSmFactory(o.statusConfig, in.orbcsd, in.connStatusDir, in.svcRespDir,
                                         o.vniLaneDefaultRoute, o.exitOption, control_);
    case Component::resolverRequest:
      return ieRemoteSvcResolverRequestSmFactory(o.exitOption, in.svcReqDir, control_);
    case Component::exitGroupStatus:
      return ieExitGroupStatusSmFactory(o.statusConfig, o.exitOption, o.exitGroup, control_);
    case Component::policyStatus:
      return iePolicyStatusSmFactory(o.statusConfig, o.exitGroup, o.groupToPolicy, o.policy, control_);
    case Component::programDp:
      return ieProgramDpSmFactory(in.orbcsd, o.policy, in.svcNotifDir, control_);
  }
  Mica::fail("InternetExitAssembly: unknown component");
  return {};
}

}  // namespace OrbInternetExit
