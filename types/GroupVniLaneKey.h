// OrbInternetExit::GroupVniLaneKey: one exit group scoped to one (VNI, lane) pair.
//
// The default key (empty name, pair 0) is the no-group value: pipelines compare against
// GroupVniLaneKey() and drop it. Equality and hash cover both fields. Ordered by pair first,
// then name, so that the keys of one pair are adjacent in an ordered collection.
//
// Printed form: "<groupName>@<vni>.<lane>", e.g. "G1@12.3"; the no-group value prints "@0.0".
// The pair never contains '@', so the parser splits at the last '@' and every name round-trips,
// including names that contain '@'.
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

namespace OrbInternetExit {

using Lane::VniAndLaneId;

struct GroupVniLaneKey {
  Mica::String groupName;
  VniAndLaneId vniLaneId;

  GroupVniLaneKey() = default;
  GroupVniLaneKey(Mica::String name, VniAndLaneId id) : groupName(std::move(name)), vniLaneId(id) {}

  bool isEq(const GroupVniLaneKey& o) const noexcept { return *this == o; }
  friend bool operator==(const GroupVniLaneKey&, const GroupVniLaneKey&) = default;
  // Ordered by pair first, then name: the keys of one pair are adjacent.
  friend std::strong_ordering operator<=>(const GroupVniLaneKey& a, const GroupVniLaneKey& b) {
    if (auto c = a.vniLaneId <=> b.vniLaneId; c != 0) return c;
    return a.groupName <=> b.groupName;
  }
  size_t hash(size_t seed = 0) const noexcept { return absl::HashOf(seed, *this); }
  template <class H>
  friend H AbslHashValue(H h, const GroupVniLaneKey& k) {
    return H::combine(std::move(h), k.groupName, k.vniLaneId);
  }
};
// A handle and a pair id, no padding: a million pairs' keys take 8 MB.
static_assert(sizeof(GroupVniLaneKey) == 8);

}  // namespace OrbInternetExit

namespace Mica {
template <>
std::optional<OrbInternetExit::GroupVniLaneKey> sequenceToValue<OrbInternetExit::GroupVniLaneKey>(
    std::string_view text);
}  // namespace Mica

template <>
struct std::hash<OrbInternetExit::GroupVniLaneKey> {
  size_t operator()(const OrbInternetExit::GroupVniLaneKey& k) const noexcept { return k.hash(); }
};

template <>
struct fmt::formatter<OrbInternetExit::GroupVniLaneKey> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const OrbInternetExit::GroupVniLaneKey& k, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "{}@{}", k.groupName, k.vniLaneId);
  }
};
