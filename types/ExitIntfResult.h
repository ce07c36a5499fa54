// OrbInternetExit::ExitResultType and ExitIntfResult: the result that one exit option yields.
//
// ExitResultType, an 8-bit enumeration whose numbers map one to one onto the data path's result
// type:
//   0 noResult         the option has no usable exit
//   1 localDefaultVrf  local exit whose interface is in the default VRF
//   2 localOtherVrf    local exit whose interface is in another VRF
//   3 fibDefaultRoute  default-route exit while the pair has a default route
//   4 remoteResolved   remote exit with a service-resolver answer
// Printed form: the name, e.g. "localOtherVrf".
//
// ExitIntfResult fields and defaults: intfId (the invalid id), vrfName (at most 100 bytes,
// "default"), gateId (0xFFFFFFFF, no gate), auxId (0), resultType (noResult). A vrfName over 100
// bytes throws Quill::RangeError "Quill::String::bytes > maxLength() not allowed" and no result
// is built. Equality, ordering and hash cover all fields; ordering is field by field in the
// order above.
//
// Printed form: "intf=<intf> vrf=<vrf> gate=<gateId> aux=<auxId> type=<resultType>" with the
// numbers in decimal, e.g. "intf=Ethernet1 vrf=blue gate=7 aux=3 type=localOtherVrf". The parser
// takes the last three fields from the right and splits the rest at the first " vrf=": every
// result round-trips except one whose interface name contains " vrf=", which the parser reads
// differently (or rejects).
#pragma once

#include <absl/hash/hash.h>
#include <fmt/format.h>

#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/engine/IntfId.h"
#include "platform/mica/Strep.h"
#include "platform/mica/String.h"

namespace OrbInternetExit {

class ExitResultType {
 public:
  enum class Enum : uint8_t {
    noResult = 0,
    localDefaultVrf = 1,
    localOtherVrf = 2,
    fibDefaultRoute = 3,
    remoteResolved = 4,
  };
  static constexpr uint8_t maxValue = 4;

  constexpr ExitResultType() noexcept = default;
  constexpr ExitResultType(Enum e) noexcept : value_(e) {}
  static constexpr ExitResultType noResult() noexcept { return Enum::noResult; }
  static constexpr ExitResultType localDefaultVrf() noexcept { return Enum::localDefaultVrf; }
  static constexpr ExitResultType localOtherVrf() noexcept { return Enum::localOtherVrf; }
  static constexpr ExitResultType fibDefaultRoute() noexcept { return Enum::fibDefaultRoute; }
  static constexpr ExitResultType remoteResolved() noexcept { return Enum::remoteResolved; }
  // The type numbered `v`, or nothing if no type has that number.
  static constexpr std::optional<ExitResultType> fromValue(uint8_t v) noexcept {
    if (v > maxValue) return {};
    return ExitResultType(static_cast<Enum>(v));
  }

  constexpr Enum value() const noexcept { return value_; }
  constexpr uint8_t number() const noexcept { return static_cast<uint8_t>(value_); }
  // The printed name.
  constexpr std::string_view name() const noexcept {
    switch (value_) {
      case Enum::noResult: return "noResult";
      case Enum::localDefaultVrf: return "localDefaultVrf";
      case Enum::localOtherVrf: return "localOtherVrf";
      case Enum::fibDefaultRoute: return "fibDefaultRoute";
      case Enum::remoteResolved: return "remoteResolved";
    }
    return "noResult";  // unreachable: the constructors admit only the values above
  }

  friend constexpr bool operator==(ExitResultType, ExitResultType) noexcept = default;
  friend constexpr std::strong_ordering operator<=>(ExitResultType, ExitResultType) noexcept =
      default;
  size_t hash(size_t seed = 0) const noexcept { return absl::HashOf(seed, number()); }
  template <class H>
  friend H AbslHashValue(H h, ExitResultType t) {
    return H::combine(std::move(h), t.number());
  }

 private:
  Enum value_ = Enum::noResult;
};

struct ExitIntfResult {
  using VrfName = Quill::BoundedString<100>;
  static constexpr uint32_t noGate = 0xFFFFFFFF;
  // "default", the name of the default VRF (one interned copy shared by all results).
  static const VrfName& defaultVrfName();

  Wire::IntfId intfId;
  VrfName vrfName = defaultVrfName();
  uint32_t gateId = noGate;
  uint32_t auxId = 0;
  ExitResultType resultType;

  ExitIntfResult() = default;
  // REQUIRES: vrfName of at most 100 bytes (else Quill::RangeError, from VrfName).
  ExitIntfResult(Wire::IntfId intf, VrfName vrf, uint32_t gate, uint32_t aux, ExitResultType type)
      : intfId(std::move(intf)),
        vrfName(std::move(vrf)),
        gateId(gate),
        auxId(aux),
        resultType(type) {}

  bool isEq(const ExitIntfResult& o) const noexcept { return *this == o; }
  friend bool operator==(const ExitIntfResult&, const ExitIntfResult&) = default;
  friend std::strong_ordering operator<=>(const ExitIntfResult&, const ExitIntfResult&) = default;
  size_t hash(size_t seed = 0) const noexcept { return absl::HashOf(seed, *this); }
  template <class H>
  friend H AbslHashValue(H h, const ExitIntfResult& r) {
    return H::combine(std::move(h), r.intfId, r.vrfName.value(), r.gateId, r.auxId, r.resultType);
  }
};

}  // namespace OrbInternetExit

namespace Mica {
// One of "noResult", "localDefaultVrf", "localOtherVrf", "fibDefaultRoute", "remoteResolved".
template <>
std::optional<OrbInternetExit::ExitResultType> sequenceToValue<OrbInternetExit::ExitResultType>(
    std::string_view text);
// The printed form above; nothing for a vrf over 100 bytes or a number out of 32-bit range.
template <>
std::optional<OrbInternetExit::ExitIntfResult> sequenceToValue<OrbInternetExit::ExitIntfResult>(
    std::string_view text);
}  // namespace Mica

template <>
struct std::hash<OrbInternetExit::ExitResultType> {
  size_t operator()(OrbInternetExit::ExitResultType t) const noexcept { return t.hash(); }
};

template <>
struct std::hash<OrbInternetExit::ExitIntfResult> {
  size_t operator()(const OrbInternetExit::ExitIntfResult& r) const noexcept { return r.hash(); }
};

template <>
struct fmt::formatter<OrbInternetExit::ExitResultType> : fmt::formatter<std::string_view> {
  template <class Ctx>
  auto format(OrbInternetExit::ExitResultType t, Ctx& ctx) const {
    return fmt::formatter<std::string_view>::format(t.name(), ctx);
  }
};

template <>
struct fmt::formatter<OrbInternetExit::ExitIntfResult> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const OrbInternetExit::ExitIntfResult& r, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "intf={} vrf={} gate={} aux={} type={}", r.intfId, r.vrfName,
                          r.gateId, r.auxId, r.resultType);
  }
};
