// OrbInternetExit::ExitType: the kind of an exit option, an 8-bit enumeration.
//
//   0 noExit      default of a default-constructed key; no exit option has it
//   1 localExit   exit through a local interface
//   2 remoteExit  exit through a remote service-insertion peer found by the service resolver
//   3 fibDefault  exit through the (VNI, lane)'s default route
//
// Pipelines compare with the named constructors: `exitKey.type == ExitType::localExit()`;
// switch statements use value(). Only the four values exist (fromValue() rejects others).
//
// Printed form: the name, e.g. "localExit"; parsed back from the same text.
#pragma once

#include <absl/hash/hash.h>
#include <fmt/format.h>

#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/mica/Strep.h"

namespace OrbInternetExit {

class ExitType {
 public:
  enum class Enum : uint8_t { noExit = 0, localExit = 1, remoteExit = 2, fibDefault = 3 };
  static constexpr uint8_t maxValue = 3;

  constexpr ExitType() noexcept = default;
  constexpr ExitType(Enum e) noexcept : value_(e) {}
  static constexpr ExitType noExit() noexcept { return Enum::noExit; }
  static constexpr ExitType localExit() noexcept { return Enum::localExit; }
  static constexpr ExitType remoteExit() noexcept { return Enum::remoteExit; }
  static constexpr ExitType fibDefault() noexcept { return Enum::fibDefault; }
  // The type numbered `v`, or nothing if no type has that number.
  static constexpr std::optional<ExitType> fromValue(uint8_t v) noexcept {
    if (v > maxValue) return {};
    return ExitType(static_cast<Enum>(v));
  }

  constexpr Enum value() const noexcept { return value_; }
  constexpr uint8_t number() const noexcept { return static_cast<uint8_t>(value_); }
  // The printed name.
  constexpr std::string_view name() const noexcept {
    switch (value_) {
      case Enum::noExit: return "noExit";
      case Enum::localExit: return "localExit";
      case Enum::remoteExit: return "remoteExit";
      case Enum::fibDefault: return "fibDefault";
    }
    return "noExit";  // unreachable: the constructors admit only the values above
  }

  friend constexpr bool operator==(ExitType, ExitType) noexcept = default;
  friend constexpr std::strong_ordering operator<=>(ExitType, ExitType) noexcept = default;
  size_t hash(size_t seed = 0) const noexcept { return absl::HashOf(seed, number()); }
  template <class H>
  friend H AbslHashValue(H h, ExitType t) {
    return H::combine(std::move(h), t.number());
  }

 private:
  Enum value_ = Enum::noExit;
};

}  // namespace OrbInternetExit

namespace Mica {
// One of "noExit", "localExit", "remoteExit", "fibDefault".
template <>
inline std::optional<OrbInternetExit::ExitType> sequenceToValue<OrbInternetExit::ExitType>(
    std::string_view text) {
  for (uint8_t v = 0; v <= OrbInternetExit::ExitType::maxValue; ++v) {
    auto t = OrbInternetExit::ExitType::fromValue(v);
    if (t->name() == text) return t;
  }
  return {};
}
}  // namespace Mica

template <>
struct std::hash<OrbInternetExit::ExitType> {
  size_t operator()(OrbInternetExit::ExitType t) const noexcept { return t.hash(); }
};

template <>
struct fmt::formatter<OrbInternetExit::ExitType> : fmt::formatter<std::string_view> {
  template <class Ctx>
  auto format(OrbInternetExit::ExitType t, Ctx& ctx) const {
    return fmt::formatter<std::string_view>::format(t.name(), ctx);
  }
};
