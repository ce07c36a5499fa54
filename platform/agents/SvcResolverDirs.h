// The service resolver's two directories that this library uses.
//
//   SvcResolverResponseDir (read)
//     resolverResponse[VniLaneSvcGroupName]  SvcResolverResponse: remoteSvcGroup (16-bit)
//   SvcResolverRequestDir (written)
//     resolverRequest: set of VniLaneSvcGroupName (a request carries no value)
//
// Notifications: (resolverResponseId, &key, null) when a response appears, (resolverResponseId,
// &key, &old response) when it changes or goes; (resolverRequestId, &key, null) when a request
// is added or removed. Writing an equal value, adding a present request or deleting an absent
// key notifies nobody.
#pragma once

#include <fmt/format.h>

#include <compare>
#include <cstdint>

#include "platform/agents/VniLaneSvcGroupName.h"
#include "platform/mica/Entity.h"

// The resolver's answer for one remote service group on one pair.
struct SvcResolverResponse {
  uint16_t remoteSvcGroup = 0;
  friend bool operator==(SvcResolverResponse, SvcResolverResponse) = default;
  friend auto operator<=>(SvcResolverResponse, SvcResolverResponse) = default;
};

class SvcResolverResponseDir : public Mica::Entity {
 public:
  enum : Mica::AttrId { resolverResponseId = 1 };
  Mica::ValueMap<VniLaneSvcGroupName, SvcResolverResponse, resolverResponseId> resolverResponse;
  void resolverResponseIs(const VniLaneSvcGroupName& k, SvcResolverResponse r) { resolverResponse.set(*this, k, r); }
  void resolverResponseDel(const VniLaneSvcGroupName& k) { resolverResponse.erase(*this, k); }
  void checkInvariants() const { resolverResponse.checkInvariants(); }
};

class SvcResolverRequestDir : public Mica::Entity {
 public:
  enum : Mica::AttrId { resolverRequestId = 1 };
  Mica::ValueSet<VniLaneSvcGroupName, resolverRequestId> resolverRequest;
  void resolverRequestIs(const VniLaneSvcGroupName& k) { resolverRequest.insert(*this, k); }
  void resolverRequestDel(const VniLaneSvcGroupName& k) { resolverRequest.erase(*this, k); }
  void checkInvariants() const { resolverRequest.checkInvariants(); }
};

template <>
struct fmt::formatter<SvcResolverResponse> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(SvcResolverResponse r, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "remoteSvcGroup={}", r.remoteSvcGroup);
  }
};
