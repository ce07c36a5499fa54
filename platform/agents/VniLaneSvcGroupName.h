// VniLaneSvcGroupName: the service resolver's key of one remote service group on one pair.
//
// Fields, in order: svcGroupName (the service group's name) and vniLaneId. Equality, hash and
// ordering cover both fields, name first. Printed form "<name>@<vni>.<lane>", e.g.
// "peer-a@12.3"; the parser splits at the last '@', so every name round-trips.
#pragma once

#include <absl/hash/hash.h>
#include <fmt/format.h>

#include <compare>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/agents/VniAndLaneId.h"
#include "platform/mica/Strep.h"
#include "platform/mica/String.h"

struct VniLaneSvcGroupName {
  Mica::String svcGroupName;
  Lane::VniAndLaneId vniLaneId;

  VniLaneSvcGroupName() = default;
  VniLaneSvcGroupName(Mica::String name, Lane::VniAndLaneId id) : svcGroupName(std::move(name)), vniLaneId(id) {}

  friend bool operator==(const VniLaneSvcGroupName&, const VniLaneSvcGroupName&) = default;
  friend std::strong_ordering operator<=>(const VniLaneSvcGroupName&, const VniLaneSvcGroupName&) = default;
  template <class H>
  friend H AbslHashValue(H h, const VniLaneSvcGroupName& k) {
    return H::combine(std::move(h), k.svcGroupName, k.vniLaneId);
  }
};

namespace Mica {
template <>
std::optional<VniLaneSvcGroupName> sequenceToValue<VniLaneSvcGroupName>(std::string_view text);
}  // namespace Mica

template <>
struct fmt::formatter<VniLaneSvcGroupName> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const VniLaneSvcGroupName& k, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "{}@{}", k.svcGroupName, k.vniLaneId);
  }
};
