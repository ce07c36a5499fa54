// Wire::IntfId: the engine's identifier of a network interface, built from the interface name.
//
// An IntfId is the interface name, held as an interned Mica::String: one pointer, equality by
// pointer, hash precomputed. The invalid id is the id of the empty name (the default).
// Ordering is by the bytes of the name, so ordered collections iterate the same way every run.
//
// value() is the 64-bit number that the data path carries for the interface. Numbers are handed
// out by a process-wide registry in the order in which names first ask for one, starting at 1;
// the invalid id is 0. fromValue() maps a number back to its id. Registered names stay interned
// for the life of the process (a router has few interface names).
//
// Printed form: the name itself, e.g. "Ethernet1"; the invalid id prints as the empty text.
// Every text parses back (sequenceToValue), so every id round-trips.
//
// Thread-safety: like Mica::String; the runtime is single-threaded.
#pragma once

#include <absl/hash/hash.h>
#include <fmt/format.h>

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/mica/Strep.h"
#include "platform/mica/String.h"

namespace Wire {

class IntfId {
 public:
  // The invalid id.
  IntfId() noexcept = default;
  explicit IntfId(Mica::String name) noexcept : name_(std::move(name)) {}
  explicit IntfId(std::string_view name) : name_(name) {}
  explicit IntfId(const char* name) : name_(name) {}
  explicit IntfId(const std::string& name) : name_(name) {}

  static IntfId invalid() noexcept { return IntfId(); }

  const Mica::String& name() const noexcept { return name_; }
  bool valid() const noexcept { return !name_.empty(); }

  // The data-path number of the interface: 0 for the invalid id, else the registry's number
  // for the name (registering it on first use). Cost: one hash lookup.
  uint64_t value() const;
  // The id whose value() is `value`, or nothing if no name has that number.
  static std::optional<IntfId> fromValue(uint64_t value);

  friend bool operator==(const IntfId&, const IntfId&) noexcept = default;
  friend std::strong_ordering operator<=>(const IntfId& a, const IntfId& b) noexcept {
    return a.name_ <=> b.name_;
  }
  size_t hash(size_t seed = 0) const noexcept { return absl::HashOf(seed, name_); }
  template <class H>
  friend H AbslHashValue(H h, const IntfId& id) {
    return H::combine(std::move(h), id.name_);
  }

 private:
  Mica::String name_;
};

}  // namespace Wire

namespace Mica {
// Any text: the interface name ("" gives the invalid id).
template <>
std::optional<Wire::IntfId> sequenceToValue<Wire::IntfId>(std::string_view text);
}  // namespace Mica

template <>
struct std::hash<Wire::IntfId> {
  size_t operator()(const Wire::IntfId& id) const noexcept { return id.hash(); }
};

template <>
struct fmt::formatter<Wire::IntfId> : fmt::formatter<Mica::String> {
  template <class Ctx>
  auto format(const Wire::IntfId& id, Ctx& ctx) const {
    return fmt::formatter<Mica::String>::format(id.name(), ctx);
  }
};
