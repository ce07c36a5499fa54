// Kiln::VrfId: the engine's identifier of a VRF, a 32-bit number (default 0).
//
// Printed form: the number in decimal, e.g. "7"; parsed back from the same text.
#pragma once

#include <absl/hash/hash.h>
#include <fmt/format.h>

#include <charconv>
#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/mica/Strep.h"

namespace Kiln {

class VrfId {
 public:
  constexpr VrfId() noexcept = default;
  constexpr explicit VrfId(uint32_t value) noexcept : value_(value) {}

  constexpr uint32_t value() const noexcept { return value_; }

  friend constexpr bool operator==(VrfId, VrfId) noexcept = default;
  friend constexpr std::strong_ordering operator<=>(VrfId, VrfId) noexcept = default;
  size_t hash(size_t seed = 0) const noexcept { return absl::HashOf(seed, value_); }
  template <class H>
  friend H AbslHashValue(H h, VrfId v) {
    return H::combine(std::move(h), v.value_);
  }

 private:
  uint32_t value_ = 0;
};

}  // namespace Kiln

namespace Mica {
// "<n>" with n a decimal 0..4294967295.
template <>
inline std::optional<Kiln::VrfId> sequenceToValue<Kiln::VrfId>(std::string_view text) {
  uint32_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return {};
  return Kiln::VrfId(v);
}
}  // namespace Mica

template <>
struct std::hash<Kiln::VrfId> {
  size_t operator()(Kiln::VrfId v) const noexcept { return v.hash(); }
};

template <>
struct fmt::formatter<Kiln::VrfId> : fmt::formatter<uint32_t> {
  template <class Ctx>
  auto format(Kiln::VrfId v, Ctx& ctx) const {
    return fmt::formatter<uint32_t>::format(v.value(), ctx);
  }
};
