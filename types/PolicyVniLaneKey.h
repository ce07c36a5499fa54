// OrbInternetExit::PolicyVniLaneKey: one policy bound to one (VNI, lane) pair.
// Printed form: "<policyName>@<vni>.<lane>", e.g. "P1@12.3"; the name may not contain '@'
// for the form to parse back.
#pragma once

#include <fmt/format.h>

#include <compare>
#include <optional>
#include <string_view>

#include "platform/mica/Strep.h"
#include "platform/mica/String.h"
#include "platform/agents/VniAndLaneId.h"

namespace OrbInternetExit {

using Lane::VniAndLaneId;

struct PolicyVniLaneKey {
  Mica::String policyName;
  VniAndLaneId vniLaneId;

  PolicyVniLaneKey() = default;
  PolicyVniLaneKey(Mica::String name, VniAndLaneId id) : policyName(std::move(name)), vniLaneId(id) {}

  bool isEq(const PolicyVniLaneKey& o) const noexcept { return *this == o; }
  friend bool operator==(const PolicyVniLaneKey&, const PolicyVniLaneKey&) = default;
  // Ordered by pair first, then name: the keys of one pair are adjacent.
  friend std::strong_ordering operator<=>(const PolicyVniLaneKey& a, const PolicyVniLaneKey& b) {
    if (auto c = a.vniLaneId <=> b.vniLaneId; c != 0) return c;
    return a.policyName <=> b.policyName;
  }
  size_t hash(size_t seed = 0) const noexcept {
    return vniLaneId.hash(seed ^ (policyName.hash() * 0x9E3779B97F4A7C15ull));
  }
  template <class H>
  friend H AbslHashValue(H h, const PolicyVniLaneKey& k) {
    return H::combine(std::move(h), k.policyName, k.vniLaneId);
  }
};
// A handle and a pair id, no padding.
static_assert(sizeof(PolicyVniLaneKey) == 8);

}  // namespace OrbInternetExit

namespace Mica {
template <>
std::optional<OrbInternetExit::PolicyVniLaneKey> sequenceToValue<OrbInternetExit::PolicyVniLaneKey>(
    std::string_view text);
}

template <>
struct std::hash<OrbInternetExit::PolicyVniLaneKey> {
  size_t operator()(const OrbInternetExit::PolicyVniLaneKey& k) const noexcept { return k.hash(); }
};

template <>
struct fmt::formatter<OrbInternetExit::PolicyVniLaneKey> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const OrbInternetExit::PolicyVniLaneKey& k, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "{}@{}", k.policyName, k.vniLaneId);
  }
};
