#include "tools/iesim/OptionReason.h"

#include <fmt/format.h>

#include "platform/agents/VniLaneSvcGroupName.h"

namespace IeSim {

namespace {

using OrbInternetExit::ExitIntfResult;
using OrbInternetExit::ExitResultType;
using OrbInternetExit::ExitType;
using OrbInternetExit::ExitVniLaneKey;

constexpr uint32_t kNone = ExitIntfResult::noGate;

// The result of a local option without an interface: no connection, or a VRF not valid for the
// option's VNI.
ExitIntfResult clearedLocal() {
  return ExitIntfResult(Wire::IntfId(), ExitIntfResult::defaultVrfName(), kNone, kNone,
                        ExitResultType::noResult());
}

std::string vrfText(const World& world, Kiln::VrfId id) {
  const auto it = world.vrfNames().find(id);
  return it == world.vrfNames().end() ? fmt::format("VRF {}", id) : fmt::format("VRF {} {}", id, it->second);
}

OptionVerdict local(const World& world, const ExitVniLaneKey& option) {
  const auto& name = option.exitKey.name;
  const auto* conn = world.connections().connection.lookup(name);
  if (conn == nullptr) return {false, fmt::format("no connection \"{}\"", name), clearedLocal()};
  const auto& via = conn->resultConnIntf.get();
  const auto* vxlan = world.orbcsd().vxlanInfo.get().get();
  if (vxlan == nullptr) return {false, "no VXLAN bindings in the engine (vxlanInfo absent)", std::nullopt};
  // A VRF is valid for the option when it is the default VRF or bound to the option's VNI.
  if (via.vrfName.view() != ExitIntfResult::defaultVrfName().view()) {
    const auto* bound = vxlan->vrfToVniMap.lookup(via.vrfName);
    const Vxlan::VniExtOrNone vni = bound == nullptr ? Vxlan::VniExtOrNone::none() : *bound;
    if (vni.value() != option.vniLaneId.vniId().value()) {
      return {false,
              vni.isNone() ? fmt::format("VRF {} of no VNI", via.vrfName)
                           : fmt::format("VRF {} of VNI {}, not of {}", via.vrfName, vni.value(),
                                         option.vniLaneId.vniId()),
              clearedLocal()};
    }
  }
  const ExitIntfResult::VrfName vrf(via.vrfName.view());
  const ExitIntfResult down(via.intfId, vrf, kNone, via.num, ExitResultType::noResult());
  if (!world.orbcsd().l3Intf.contains(via.intfId)) {
    return {false, fmt::format("interface {} of connection {} absent", via.intfId, name), down};
  }
  if (world.dataPath().internetExit() == nullptr) {
    return {false,
            world.dataPath().present() ? "no gate: the module is no InternetExit module"
                                       : "no gate: no InternetExit module (a module that goes leaves the "
                                         "results as they are until they are next evaluated)",
            down};
  }
  const uint32_t gate = world.dataPath().gateOf(via.intfId).first;
  if (gate == kNone) return {false, fmt::format("no gate for {} on the module", via.intfId), down};
  const auto type = vrf == ExitIntfResult::defaultVrfName() ? ExitResultType::localDefaultVrf()
                                                            : ExitResultType::localOtherVrf();
  return {true, fmt::format("connection {} on {}, gate {}", name, via.intfId, gate),
          ExitIntfResult(via.intfId, vrf, gate, via.num, type)};
}

OptionVerdict remote(const World& world, const ExitVniLaneKey& option) {
  const VniLaneSvcGroupName group(option.exitKey.name, option.vniLaneId);
  const auto* answer = world.responses().resolverResponse.lookup(group);
  if (answer == nullptr) {
    return {false,
            fmt::format("no resolver answer for {} ({})", group,
                        world.requests().resolverRequest.contains(group) ? "requested" : "not requested"),
            ExitIntfResult(Wire::IntfId(), ExitIntfResult::defaultVrfName(), kNone, 0, ExitResultType::noResult())};
  }
  return {true, fmt::format("resolver answer {} = {}", group, answer->remoteSvcGroup),
          ExitIntfResult(Wire::IntfId(), ExitIntfResult::defaultVrfName(), kNone, answer->remoteSvcGroup,
                         ExitResultType::remoteResolved())};
}

// The default-route trackers' rule, from their own inputs: the pair is bound to a policy and
// some VRF bound to its VNI has a default route.
OptionVerdict fibDefault(const World& world, const ExitVniLaneKey& option) {
  const auto pair = option.vniLaneId;
  const ExitIntfResult down(Wire::IntfId(), ExitIntfResult::defaultVrfName(), kNone, kNone,
                            ExitResultType::noResult());
  std::string vrfs;  // the VRFs of the pair's VNI
  std::optional<Kiln::VrfId> withRoute;
  if (const auto* vxlan = world.orbcsd().vxlanInfo.get().get()) {
    for (const auto& [id, vni] : vxlan->vrfIdToVniMap) {
      if (!vni.usable() || vni.vniId() != pair.vniId()) continue;
      vrfs += (vrfs.empty() ? "" : ", ") + vrfText(world, id);
      if (!withRoute && world.orbcsd().defaultRoutePresentInVrf.contains(id)) withRoute = id;
    }
  }
  if (!withRoute) {
    return {false,
            vrfs.empty() ? fmt::format("no default route: no VRF is bound to VNI {}", pair.vniId())
                         : fmt::format("no default route: no VRF of VNI {} has one ({})", pair.vniId(), vrfs),
            down};
  }
  // The binding decides whether the pair has a key in polToVniLane; a lookup, not a walk of
  // the keys, since causes derive this for every changed option of a step.
  const bool bound = world.lanes().laneToIEMap.contains(pair);
  if (!bound) return {false, fmt::format("no default route for {}: the pair is bound to no policy", pair), down};
  return {true, fmt::format("default route in {} of VNI {}", vrfText(world, *withRoute), pair.vniId()),
          ExitIntfResult(Wire::IntfId(), ExitIntfResult::defaultVrfName(), 0, kNone,
                         ExitResultType::fibDefaultRoute())};
}

}  // namespace

OptionVerdict deriveOption(const World& world, const ExitVniLaneKey& option) {
  const auto type = option.exitKey.type;
  if (type == ExitType::localExit()) return local(world, option);
  if (type == ExitType::remoteExit()) return remote(world, option);
  if (type == ExitType::fibDefault()) return fibDefault(world, option);
  return {false, fmt::format("exit type {} is no option's type", type), std::nullopt};
}

std::string mismatchText(const OptionVerdict& verdict, const ExitIntfResult& actual) {
  if (!verdict.expected || *verdict.expected == actual) return "";
  return fmt::format("MISMATCH: the library has {}, the inputs call for {}", resultText(actual),
                     resultText(*verdict.expected));
}

}  // namespace IeSim
