#include "Orb/OrbSiEdgeModule.h"

#include <memory>
#include <utility>

#include "platform/mica/Assert.h"
#include "platform/trace/Duolog.h"

namespace Orb {

namespace {

constexpr int kModuleTraceLevel = 4;

const Mica::DebugHandler& moduleTrace() {
  static const Mica::Ptr<Mica::DebugHandler> handler =
      Mica::Platform::getDebugHandler("OrbSiEdgeModule");
  return *handler;
}

// Command names, interned once: a command per event then costs no intern-table lookup.
const Mica::String& addLaneIeExitInfoName() {
  static const Mica::String name("addLaneIeExitInfo");
  return name;
}
const Mica::String& delLaneIeExitInfoName() {
  static const Mica::String name("delLaneIeExitInfo");
  return name;
}

}  // namespace

orb::pb::IeResultType ieGetPbResultType(OrbInternetExit::ExitResultType t) {
  using Type = OrbInternetExit::ExitResultType::Enum;
  switch (t.value()) {
    case Type::noResult: return orb::pb::IE_RESULT_NO_RESULT;
    case Type::localDefaultVrf: return orb::pb::IE_RESULT_LOCAL_DEFAULT_VRF;
    case Type::localOtherVrf: return orb::pb::IE_RESULT_LOCAL_OTHER_VRF;
    case Type::fibDefaultRoute: return orb::pb::IE_RESULT_FIB_DEFAULT_ROUTE;
    case Type::remoteResolved: return orb::pb::IE_RESULT_REMOTE_RESOLVED;
  }
  Mica::fail("false");
  return orb::pb::IE_RESULT_NO_RESULT;  // not reached: fail() does not return
}

// --- InternetExit ---------------------------------------------------------------------------

InternetExit::InternetExit(Mica::String name, OrbModule::ModuleClass moduleClass,
                           uint32_t maxInGate, uint32_t maxOutGate, uint32_t reservedInGate,
                           uint32_t reservedOutGate, Mica::Ptr<ModuleConfigStatusPair> modulePair,
                           Mica::Ptr<const OrbCommonSmData> orbcsd)
    : Module(std::move(name), moduleClass, maxInGate, maxOutGate, reservedInGate, reservedOutGate,
             nullptr, std::move(modulePair)),
      orbcsd_(std::move(orbcsd)) {
  handleInitialized();
}

InternetExit::~InternetExit() {
  gateManagerDel();
  orbcsd_ = nullptr;
}

Mica::Ptr<InternetExit> InternetExit::InternetExitIs(
    Mica::String name, OrbModule::ModuleClass moduleClass, uint32_t maxInGate,
    uint32_t maxOutGate, uint32_t reservedInGate, uint32_t reservedOutGate,
    Mica::Ptr<ModuleConfigStatusPair> modulePair, Mica::Ptr<const OrbCommonSmData> orbcsd) {
  return Mica::make<InternetExit>(std::move(name), moduleClass, maxInGate, maxOutGate,
                                  reservedInGate, reservedOutGate, std::move(modulePair),
                                  std::move(orbcsd));
}

void InternetExit::handleInitialized() {
  moduleTrace().traceText(kModuleTraceLevel, "");
  gateManagerIs(orbcsd_);
}

Mica::Ptr<SiModuleGateManager> InternetExit::gateManagerIs(
    const Mica::Ptr<const OrbCommonSmData>& orbcsd) {
  if (const auto& current = gateManager_.get(); current && current->orbcsd() == orbcsd) {
    return current;
  }
  // The old manager stays alive (as the notification's old value) until the change has been
  // delivered, and goes when `previous` does.
  Mica::Ptr<SiModuleGateManager> previous = gateManager_.get();
  auto manager = Mica::make<SiModuleGateManager>(orbcsd);
  gateManager_.set(*this, manager);
  return manager;
}

Mica::Ptr<SiModuleGateManager> InternetExit::gateManagerDel() {
  Mica::Ptr<SiModuleGateManager> removed = gateManager_.get();
  gateManager_.set(*this, nullptr);
  return removed;
}

uint32_t InternetExit::assignGate(const Wire::IntfId& intfId) {
  const Mica::Ptr<SiModuleGateManager> manager = gateManager_.get();
  if (!manager) return noGate;
  const Mica::Ptr<Module> self(this);
  return manager->assignGate(self, intfId);
}

bool InternetExit::releaseGate(const Wire::IntfId& intfId) {
  const Mica::Ptr<SiModuleGateManager> manager = gateManager_.get();
  if (!manager) return false;
  const Mica::Ptr<Module> self(this);
  return manager->releaseGate(self, intfId);
}

void InternetExit::releaseAllGates() {
  const Mica::Ptr<SiModuleGateManager> manager = gateManager_.get();
  if (!manager) return;
  const Mica::Ptr<Module> self(this);
  manager->releaseAllGates(self);
}

bool InternetExit::ieUpdateLaneExitInfo(Lane::VniAndLaneId vniAndLane,
                                        const OrbInternetExit::ExitIntfResult& exitIntf, bool add) {
  // The Blip record keeps the result itself; it decodes to the same printed form.
  Mica::Duolog::trace(Blip::defaultHandle(), moduleTrace(), kModuleTraceLevel,
                      "Updating ({}) exitIntf {} to LANE: ( {} : {} )", add ? "Add" : "Del",
                      exitIntf, vniAndLane.vniId().value(), vniAndLane.laneId());

  auto msg = std::make_unique<orb::pb::IeLaneToExitInfoArg>();
  auto* result = msg->mutable_result();
  Mica::check(result != nullptr, "result");
  result->set_result_type(ieGetPbResultType(exitIntf.resultType));
  result->set_gate_id(exitIntf.gateId);
  result->set_intf_id(exitIntf.intfId.value());
  result->set_aux_id(exitIntf.auxId);
  auto* laneInfo = msg->mutable_lane_info();
  Mica::check(laneInfo != nullptr, "lane_info");
  laneInfo->set_vni(vniAndLane.vniId().value());
  laneInfo->set_lane(vniAndLane.laneId());

  sendCmd(add ? addLaneIeExitInfoName() : delLaneIeExitInfoName(), msg.release());
  return true;
}

void InternetExit::setupCounters(orb::pb::InternetExitCountersArg* arg) {
  static const Mica::String name("setupCounters");
  sendCmd(name, arg);
}

void InternetExit::sendCmd(const Mica::String& cmdName, google::protobuf::Message* arg) {
  const Mica::Ptr<ModuleConfigStatusPair>& pair = modulePair();
  Mica::Ptr<ModuleConfig> config = pair ? pair->config() : nullptr;
  if (!config) {
    delete arg;
    return;
  }
  Mica::Ptr<ModuleCmdBase> cmd = moduleCmdFactory(name(), cmdName, arg, true);
  config->cmdBatchEnq(cmd);
}

void InternetExit::checkInvariants() const {
  if (const auto& manager = gateManager_.get()) manager->checkInvariants();
}

void InternetExit::dumpState(const Mica::Ptr<const Keel::DumpContext>& ctx,
                             unsigned indent) const {
  if (indent == 0) {
    Keel::_objDumpPrintf(ctx, "InternetExit\n");
  } else {
    Keel::_objDumpPrintf(ctx, "%*cInternetExit\n", static_cast<int>(indent), ' ');
  }
  dumpChild(ctx, "gateManager", gateManager_.get().get(), indent + 2);
}

// --- SiEdge ---------------------------------------------------------------------------------

SiEdge::~SiEdge() = default;

Mica::Ptr<SiEdge> SiEdge::SiEdgeIs(Mica::String name, OrbModule::ModuleClass moduleClass,
                                   uint32_t maxInGate, uint32_t maxOutGate,
                                   uint32_t reservedInGate, uint32_t reservedOutGate,
                                   Mica::Ptr<ModuleConfigStatusPair> modulePair,
                                   Mica::Ptr<const OrbCommonSmData> orbcsd) {
  return Mica::make<SiEdge>(std::move(name), moduleClass, maxInGate, maxOutGate, reservedInGate,
                            reservedOutGate, std::move(modulePair), std::move(orbcsd));
}

void SiEdge::setupEdgeCounters(orb::pb::SiEdgeCountersArg* arg) {
  static const Mica::String name("setupEdgeCounters");
  sendCmd(name, arg);
}

// --- Factories ------------------------------------------------------------------------------

Mica::Ptr<InternetExit> internetExitFactory(Mica::String name, OrbModule::ModuleClass moduleClass,
                                            uint32_t maxInGate, uint32_t maxOutGate,
                                            uint32_t reservedInGate, uint32_t reservedOutGate,
                                            Mica::Ptr<ModuleConfigStatusPair> modulePair,
                                            Mica::Ptr<const OrbCommonSmData> orbcsd) {
  return InternetExit::InternetExitIs(std::move(name), moduleClass, maxInGate, maxOutGate,
                                      reservedInGate, reservedOutGate, std::move(modulePair),
                                      std::move(orbcsd));
}

Mica::Ptr<SiEdge> siEdgeFactory(Mica::String name, OrbModule::ModuleClass moduleClass,
                                uint32_t maxInGate, uint32_t maxOutGate, uint32_t reservedInGate,
                                uint32_t reservedOutGate,
                                Mica::Ptr<ModuleConfigStatusPair> modulePair,
                                Mica::Ptr<const OrbCommonSmData> orbcsd) {
  return SiEdge::SiEdgeIs(std::move(name), moduleClass, maxInGate, maxOutGate, reservedInGate,
                          reservedOutGate, std::move(modulePair), std::move(orbcsd));
}

}  // namespace Orb
