#include "Orb/OrbInternetExitUtil/GateHelpers.h"

#include "Orb/OrbInternetExitUtil/UtilTrace.h"
#include "Orb/OrbSiEdgeModule.h"
#include "platform/mica/Assert.h"
#include "platform/trace/Duolog.h"

namespace OrbInternetExit {

namespace {

// The InternetExit module of `orbcsd`, or empty when it has none or one of another class.
Mica::Ptr<Orb::InternetExit> internetExitOf(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd) {
  Mica::check(orbcsd != nullptr, "orbcsd");
  return Orb::moduleCast<Orb::InternetExit>(orbcsd->internetExitModule.get());
}

}  // namespace

uint32_t createOrFetchGateId(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd,
                             const Wire::IntfId& intfId) {
  if (const auto module = internetExitOf(orbcsd)) return module->assignGate(intfId);
  Mica::Duolog::trace(Blip::defaultHandle(), internal::utilTrace(), internal::kUtilTraceLevel,
                      "::createOrFetchGateId: %s, Internet-exit module is disabled", intfId);
  return ExitIntfResult::noGate;
}

bool removeGateId(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd, const Wire::IntfId& intfId) {
  if (const auto module = internetExitOf(orbcsd)) return module->releaseGate(intfId);
  Mica::Duolog::trace(Blip::defaultHandle(), internal::utilTrace(), internal::kUtilTraceLevel,
                      "::removeGateId: %s, Internet-exit module is disabled", intfId);
  return false;
}

bool ieUpdateLaneIntf(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd,
                      Lane::VniAndLaneId vniAndLane, const ExitIntfResult& exitIntf, bool add) {
  if (const auto module = internetExitOf(orbcsd)) {
    return module->ieUpdateLaneExitInfo(vniAndLane, exitIntf, add);
  }
  return false;
}

}  // namespace OrbInternetExit
