// Lane::VniId and Lane::VniAndLaneId: the lane side's VNI number and (VNI, lane) pair.
//
// VniAndLaneId packs the pair into one 32-bit value, VNI in the high 16 bits and lane in the
// low 16, so that the natural order of the value is (VNI, lane) and all lanes of one VNI are
// contiguous in an ordered collection. Printed form: "<vni>.<lane>", e.g. "12.3".
#pragma once

#include <fmt/format.h>

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "platform/mica/Strep.h"

namespace Lane {

// A lane-side VNI: 0..255 are VNIs, 256 is invalidVni.
// REQUIRES: value <= 256, else Quill::RangeError
// "Lane::VniId::value < 0 or > Lane::VniId::invalidVni not allowed".
class VniId {
 public:
  static constexpr uint16_t invalidVniValue = 256;
  static const VniId invalidVni;

  constexpr VniId() noexcept = default;
  explicit VniId(int64_t value);

  constexpr uint16_t value() const noexcept { return value_; }
  constexpr bool valid() const noexcept { return value_ != invalidVniValue; }
  friend constexpr bool operator==(VniId, VniId) noexcept = default;
  friend constexpr auto operator<=>(VniId, VniId) noexcept = default;
  template <class H>
  friend H AbslHashValue(H h, VniId v) {
    return H::combine(std::move(h), v.value_);
  }

 private:
  struct Raw {};
  constexpr VniId(uint16_t v, Raw) noexcept : value_(v) {}
  uint16_t value_ = 0;
};
inline const VniId VniId::invalidVni{VniId::invalidVniValue, VniId::Raw{}};

class VniAndLaneId {
 public:
  constexpr VniAndLaneId() noexcept = default;
  constexpr VniAndLaneId(VniId vni, uint16_t lane) noexcept
      : value_(static_cast<uint32_t>(vni.value()) << 16 | lane) {}
  // From the packed 32-bit value.
  static constexpr VniAndLaneId fromValue(uint32_t v) noexcept {
    VniAndLaneId id;
    id.value_ = v;
    return id;
  }

  constexpr uint32_t value() const noexcept { return value_; }
  VniId vniId() const { return VniId(value_ >> 16); }
  constexpr uint16_t laneId() const noexcept { return static_cast<uint16_t>(value_ & 0xFFFF); }

  friend constexpr bool operator==(VniAndLaneId, VniAndLaneId) noexcept = default;
  friend constexpr auto operator<=>(VniAndLaneId, VniAndLaneId) noexcept = default;
  size_t hash(size_t seed = 0) const noexcept {
    return std::hash<uint64_t>()(seed * 0x9E3779B97F4A7C15ull ^ value_);
  }
  template <class H>
  friend H AbslHashValue(H h, VniAndLaneId v) {
    return H::combine(std::move(h), v.value_);
  }

 private:
  uint32_t value_ = 0;
};

}  // namespace Lane

namespace Mica {
// "<vni>.<lane>" with vni 0..256 and lane 0..65535.
template <>
std::optional<Lane::VniAndLaneId> sequenceToValue<Lane::VniAndLaneId>(std::string_view text);
// "<vni>" with vni 0..256.
template <>
std::optional<Lane::VniId> sequenceToValue<Lane::VniId>(std::string_view text);
}  // namespace Mica

template <>
struct std::hash<Lane::VniAndLaneId> {
  size_t operator()(Lane::VniAndLaneId v) const noexcept { return v.hash(); }
};

template <>
struct fmt::formatter<Lane::VniId> : fmt::formatter<unsigned> {
  template <class Ctx>
  auto format(Lane::VniId v, Ctx& ctx) const {
    return fmt::formatter<unsigned>::format(v.value(), ctx);
  }
};

template <>
struct fmt::formatter<Lane::VniAndLaneId> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(Lane::VniAndLaneId v, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "{}.{}", v.value() >> 16, v.laneId());
  }
};
