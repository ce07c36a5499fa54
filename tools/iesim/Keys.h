// The printed forms of keys in scenario files, parsed with the rules of the scenario fields:
//
//   pair          "<vni>.<lane>"             vni 0..255, lane 0..65535 (Binding's ranges)
//   policy key    "<policy>@<vni>.<lane>"    policy non-empty, without '@'
//   group key     "<group>@<vni>.<lane>"     group non-empty, without '@'
//   exit option   "<type>:<name>"            type localExit or remoteExit with a non-empty name
//                                            (it may contain ':'), or "fibDefault:", the
//                                            default-route exit, whose name is empty
//   option key    "<type>:<name>@<vni>.<lane>"  an exit option of a pair, split at the last '@'
//   service group "<group>@<vni>.<lane>"       group non-empty, split at the last '@' (a remote
//                                            option's name may hold '@')
//   notification  "<vni>.<lane>/<group>"     a service in-use notification, group 0..65535
//   component     a state machine's name, as OrbInternetExit::componentName gives it
//   result type   noResult, localDefaultVrf, localOtherVrf, fibDefaultRoute, remoteResolved
//   vrf name      non-empty, at most 100 bytes
//
// Each parser returns nothing and sets `error` to a text naming the value on failure, e.g.
// "value 300 out of range for vni (0..255) in key \"P@300.1\"". The checked variants are for
// texts that the loader has already accepted.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Orb/InternetExitAssembly.h"
#include "platform/agents/SvcInUseNotificationDir.h"
#include "types/ExitIntfResult.h"
#include "types/ExitKey.h"
#include "types/GroupVniLaneKey.h"
#include "platform/agents/VniLaneSvcGroupName.h"
#include "types/PolicyVniLaneKey.h"

namespace IeSim {

// "empty policy name", "policy name \"a@b\" must not contain '@'", or empty when `name` is one.
std::string policyNameError(std::string_view name);
std::string groupNameError(std::string_view name);
// "empty vrf name", "vrf name \"...\" has 101 bytes, at most 100 allowed", or empty.
std::string vrfNameError(std::string_view name);

std::optional<Lane::VniAndLaneId> parsePair(std::string_view text, std::string* error);
std::optional<OrbInternetExit::PolicyVniLaneKey> parsePolicyKey(std::string_view text,
                                                                 std::string* error);
std::optional<OrbInternetExit::GroupVniLaneKey> parseGroupKey(std::string_view text,
                                                               std::string* error);
std::optional<OrbInternetExit::ExitKey> parseExitOption(std::string_view text, std::string* error);
std::optional<OrbInternetExit::ExitResultType> parseResultType(std::string_view text,
                                                                std::string* error);
std::optional<OrbInternetExit::ExitVniLaneKey> parseOptionKey(std::string_view text,
                                                               std::string* error);
std::optional<VniLaneSvcGroupName> parseSvcGroupKey(std::string_view text, std::string* error);
std::optional<LaneSvcRemoteGroup> parseNotificationKey(std::string_view text, std::string* error);
std::optional<OrbInternetExit::Component> parseComponent(std::string_view text, std::string* error);

// REQUIRES: the matching parser accepts `text` (else std::logic_error).
Lane::VniAndLaneId checkedPair(std::string_view text);
OrbInternetExit::PolicyVniLaneKey checkedPolicyKey(std::string_view text);
OrbInternetExit::GroupVniLaneKey checkedGroupKey(std::string_view text);
OrbInternetExit::ExitKey checkedExitOption(std::string_view text);
OrbInternetExit::ExitResultType checkedResultType(std::string_view text);
OrbInternetExit::ExitVniLaneKey checkedOptionKey(std::string_view text);
VniLaneSvcGroupName checkedSvcGroupKey(std::string_view text);
LaneSvcRemoteGroup checkedNotificationKey(std::string_view text);
OrbInternetExit::Component checkedComponent(std::string_view text);

// The pair (vni, lane) of a message with the range-checked fields vni and lane.
template <class M>
Lane::VniAndLaneId pairOf(const M& m) {
  return Lane::VniAndLaneId(Lane::VniId(m.vni()), static_cast<uint16_t>(m.lane()));
}

// The result a message with the fields type, intf, vrf, gate and aux gives (ExitResult,
// OptionResult), the fields not given at the defaults of a result.
template <class M>
OrbInternetExit::ExitIntfResult resultOf(const M& m) {
  using OrbInternetExit::ExitIntfResult;
  return ExitIntfResult(m.intf().empty() ? Wire::IntfId() : Wire::IntfId(m.intf()),
                        m.has_vrf() ? ExitIntfResult::VrfName(std::string_view(m.vrf()))
                                    : ExitIntfResult::defaultVrfName(),
                        m.has_gate() ? static_cast<uint32_t>(m.gate()) : ExitIntfResult::noGate,
                        static_cast<uint32_t>(m.aux()), checkedResultType(m.type()));
}

}  // namespace IeSim
