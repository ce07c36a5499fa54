// OrbInternetExit::ExitKey: one exit option, by name and type; and ExitVniLaneKey: an exit option
// scoped to one (VNI, lane) pair.
//
// Equality and hash cover all fields: two keys that differ only in type are different keys.
// ExitVniLaneKey is ordered by pair first, then exit key, so that the keys of one pair are
// adjacent in an ordered collection; ExitKey by name, then type.
//
// Printed forms:
//   ExitKey         "<type>:<name>", e.g. "localExit:wan1"
//   ExitVniLaneKey  "<type>:<name>@<vni>.<lane>", e.g. "localExit:wan1@12.3"
// The type and pair never contain ':' or '@', so the parser splits at the first ':' and the
// last '@' and every name round-trips, including names that contain ':' or '@'.
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
#include "types/ExitType.h"

namespace OrbInternetExit {

using Lane::VniAndLaneId;

struct ExitKey {
  Mica::String name;
  ExitType type;

  ExitKey() = default;
  ExitKey(Mica::String n, ExitType t) : name(std::move(n)), type(t) {}

  bool isEq(const ExitKey& o) const noexcept { return *this == o; }
  friend bool operator==(const ExitKey&, const ExitKey&) = default;
  friend std::strong_ordering operator<=>(const ExitKey&, const ExitKey&) = default;
  size_t hash(size_t seed = 0) const noexcept { return absl::HashOf(seed, *this); }
  template <class H>
  friend H AbslHashValue(H h, const ExitKey& k) {
    return H::combine(std::move(h), k.name, k.type);
  }
};
// A handle and the type byte, padded to the handle's alignment.
static_assert(sizeof(ExitKey) == 8);

struct ExitVniLaneKey {
  ExitKey exitKey;
  VniAndLaneId vniLaneId;

  ExitVniLaneKey() = default;
  ExitVniLaneKey(ExitKey k, VniAndLaneId id) : exitKey(std::move(k)), vniLaneId(id) {}

  bool isEq(const ExitVniLaneKey& o) const noexcept { return *this == o; }
  friend bool operator==(const ExitVniLaneKey&, const ExitVniLaneKey&) = default;
  // Ordered by pair first, then exit key: the keys of one pair are adjacent.
  friend std::strong_ordering operator<=>(const ExitVniLaneKey& a, const ExitVniLaneKey& b) {
    if (auto c = a.vniLaneId <=> b.vniLaneId; c != 0) return c;
    return a.exitKey <=> b.exitKey;
  }
  size_t hash(size_t seed = 0) const noexcept { return absl::HashOf(seed, *this); }
  template <class H>
  friend H AbslHashValue(H h, const ExitVniLaneKey& k) {
    return H::combine(std::move(h), k.exitKey, k.vniLaneId);
  }
};
// The exit key and a pair id, no padding.
static_assert(sizeof(ExitVniLaneKey) == 12);

}  // namespace OrbInternetExit

namespace Mica {
template <>
std::optional<OrbInternetExit::ExitKey> sequenceToValue<OrbInternetExit::ExitKey>(
    std::string_view text);
template <>
std::optional<OrbInternetExit::ExitVniLaneKey> sequenceToValue<OrbInternetExit::ExitVniLaneKey>(
    std::string_view text);
}  // namespace Mica

template <>
struct std::hash<OrbInternetExit::ExitKey> {
  size_t operator()(const OrbInternetExit::ExitKey& k) const noexcept { return k.hash(); }
};

template <>
struct std::hash<OrbInternetExit::ExitVniLaneKey> {
  size_t operator()(const OrbInternetExit::ExitVniLaneKey& k) const noexcept { return k.hash(); }
};

template <>
struct fmt::formatter<OrbInternetExit::ExitKey> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const OrbInternetExit::ExitKey& k, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "{}:{}", k.type, k.name);
  }
};

template <>
struct fmt::formatter<OrbInternetExit::ExitVniLaneKey> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const OrbInternetExit::ExitVniLaneKey& k, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "{}@{}", k.exitKey, k.vniLaneId);
  }
};
