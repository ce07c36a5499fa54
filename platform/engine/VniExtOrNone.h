// Vxlan::VniExtOrNone: the engine's 32-bit VNI value; all 32 bits set means no VNI.
//
// Only some engine VNIs have a lane-side Lane::VniId: a value is usable when it is not the
// no-VNI value and its low 16 bits are at most 255; its VniId is then those low 16 bits. Every
// conversion to a VniId tests usable() first and ignores the other values.
//
// The default value is the no-VNI value. Ordering and equality compare all 32 bits.
//
// Printed form: the number in decimal, e.g. "12", or "noVni" for the no-VNI value (distinct from
// the "None" of an absent Optional). Parsing accepts both forms (and the decimal of the no-VNI
// value).
#pragma once

#include <absl/hash/hash.h>
#include <fmt/format.h>

#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/agents/VniAndLaneId.h"
#include "platform/mica/Optional.h"
#include "platform/mica/Strep.h"

namespace Vxlan {

class VniExtOrNone {
 public:
  using Optional = Quill::Optional<VniExtOrNone>;
  static constexpr uint32_t noneValue = 0xFFFFFFFF;
  static constexpr uint32_t maxUsableVni = 255;

  // The no-VNI value.
  constexpr VniExtOrNone() noexcept = default;
  constexpr explicit VniExtOrNone(uint32_t value) noexcept : value_(value) {}
  static constexpr VniExtOrNone none() noexcept { return VniExtOrNone(); }

  constexpr uint32_t value() const noexcept { return value_; }
  constexpr bool isNone() const noexcept { return value_ == noneValue; }
  constexpr bool usable() const noexcept { return !isNone() && (value_ & 0xFFFF) <= maxUsableVni; }
  // The lane-side VNI: the low 16 bits.
  // REQUIRES: usable(), else the assertion "Vxlan::VniExtOrNone::vniId() of an unusable value".
  Lane::VniId vniId() const;

  friend constexpr bool operator==(VniExtOrNone, VniExtOrNone) noexcept = default;
  friend constexpr std::strong_ordering operator<=>(VniExtOrNone, VniExtOrNone) noexcept = default;
  size_t hash(size_t seed = 0) const noexcept { return absl::HashOf(seed, value_); }
  template <class H>
  friend H AbslHashValue(H h, VniExtOrNone v) {
    return H::combine(std::move(h), v.value_);
  }

 private:
  uint32_t value_ = noneValue;
};

}  // namespace Vxlan

namespace Mica {
// "noVni", or "<n>" with n a decimal 0..4294967295.
template <>
std::optional<Vxlan::VniExtOrNone> sequenceToValue<Vxlan::VniExtOrNone>(std::string_view text);
}  // namespace Mica

template <>
struct std::hash<Vxlan::VniExtOrNone> {
  size_t operator()(Vxlan::VniExtOrNone v) const noexcept { return v.hash(); }
};

template <>
struct fmt::formatter<Vxlan::VniExtOrNone> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(Vxlan::VniExtOrNone v, Ctx& ctx) const {
    if (v.isNone()) return fmt::format_to(ctx.out(), "noVni");
    return fmt::format_to(ctx.out(), "{}", v.value());
  }
};
