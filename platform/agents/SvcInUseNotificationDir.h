// The service resolver's in-use notifications: which remote service group each (VNI, lane) pair
// uses.
//
//   SvcInUseNotificationDir
//     svcNotification: set of LaneSvcRemoteGroup (a notification carries no value)
//
// LaneSvcRemoteGroup: a VniAndLaneId and a 16-bit remote service group number; ordered by pair,
// then group. Printed "<vni>.<lane>/<group>", e.g. "12.3/42".
// Notifications: (svcNotificationId, &key, null) when a key is added or removed; adding a present
// key or deleting an absent one notifies nobody.
#pragma once

#include <absl/hash/hash.h>
#include <fmt/format.h>

#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/agents/VniAndLaneId.h"
#include "platform/mica/Entity.h"
#include "platform/mica/Strep.h"

struct LaneSvcRemoteGroup {
  Lane::VniAndLaneId vniLaneId;
  uint16_t remoteGroup = 0;

  LaneSvcRemoteGroup() = default;
  LaneSvcRemoteGroup(Lane::VniAndLaneId v, uint16_t g) : vniLaneId(v), remoteGroup(g) {}
  friend bool operator==(const LaneSvcRemoteGroup&, const LaneSvcRemoteGroup&) = default;
  friend std::strong_ordering operator<=>(const LaneSvcRemoteGroup&, const LaneSvcRemoteGroup&) = default;
  template <class H>
  friend H AbslHashValue(H h, const LaneSvcRemoteGroup& k) {
    return H::combine(std::move(h), k.vniLaneId.value(), k.remoteGroup);
  }
};

class SvcInUseNotificationDir : public Mica::Entity {
 public:
  enum : Mica::AttrId { svcNotificationId = 1 };
  Mica::ValueSet<LaneSvcRemoteGroup, svcNotificationId> svcNotification;
  void svcNotificationIs(const LaneSvcRemoteGroup& k) { svcNotification.insert(*this, k); }
  void svcNotificationDel(const LaneSvcRemoteGroup& k) { svcNotification.erase(*this, k); }
  void checkInvariants() const { svcNotification.checkInvariants(); }
};

namespace Mica {
template <>
inline std::optional<LaneSvcRemoteGroup> sequenceToValue<LaneSvcRemoteGroup>(std::string_view text) {
  const auto slash = text.rfind('/');
  if (slash == std::string_view::npos) return {};
  const auto pair = sequenceToValue<Lane::VniAndLaneId>(text.substr(0, slash));
  const std::string_view group = text.substr(slash + 1);
  if (!pair || group.empty() || group.size() > 5) return {};
  uint32_t g = 0;
  for (char c : group) {
    if (c < '0' || c > '9') return {};
    g = g * 10 + static_cast<uint32_t>(c - '0');
  }
  if (g > 0xFFFF) return {};
  return LaneSvcRemoteGroup(*pair, static_cast<uint16_t>(g));
}
}  // namespace Mica

template <>
struct fmt::formatter<LaneSvcRemoteGroup> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const LaneSvcRemoteGroup& k, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "{}/{}", k.vniLaneId, k.remoteGroup);
  }
};
