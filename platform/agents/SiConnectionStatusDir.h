// SiConnectionStatusDir: the service-insertion agent's connection status, as this library reads it.
//
//   SiConnectionStatusDir
//     connection[name]  ConnectionStatus
//                         resultConnIntf: ResultConnIntf (interface, VRF name, 32-bit number)
//
// A connection is named like the local exit options that use it. Its `resultConnIntf` is the
// interface the connection currently leaves through. Notifications: (connectionId, &name, null)
// when a connection appears, (connectionId, &name, &old Ptr) when it goes; inside a connection,
// (resultConnIntfId, null, &old value) when its result changes. Writing an equal result
// notifies nobody.
#pragma once

#include <fmt/format.h>

#include <compare>
#include <cstdint>

#include "platform/engine/IntfId.h"
#include "platform/mica/Entity.h"
#include "platform/mica/String.h"

// The interface a connection leaves through: the interface, the name of its VRF and the
// connection's 32-bit number on it. Printed "<intf> vrf=<vrf> num=<n>".
struct ResultConnIntf {
  Wire::IntfId intfId;
  Mica::String vrfName;
  uint32_t num = 0;

  ResultConnIntf() = default;
  ResultConnIntf(Wire::IntfId intf, Mica::String vrf, uint32_t n)
      : intfId(std::move(intf)), vrfName(std::move(vrf)), num(n) {}
  friend bool operator==(const ResultConnIntf&, const ResultConnIntf&) = default;
  friend std::strong_ordering operator<=>(const ResultConnIntf&, const ResultConnIntf&) = default;
};

class ConnectionStatus : public Mica::Entity {
 public:
  enum : Mica::AttrId { resultConnIntfId = 1 };
  explicit ConnectionStatus(const Mica::String& name) : name_(name) {}
  const Mica::String& name() const noexcept { return name_; }
  const Mica::String& key() const noexcept { return name_; }

  Mica::Scalar<ResultConnIntf, resultConnIntfId> resultConnIntf;
  void resultConnIntfIs(const ResultConnIntf& r) { resultConnIntf.set(*this, r); }

 private:
  Mica::String name_;
};

class SiConnectionStatusDir : public Mica::Entity {
 public:
  enum : Mica::AttrId { connectionId = 1 };

  Mica::EntityMap<Mica::String, ConnectionStatus, connectionId> connection;
  // The connection `name`, created with result `r` when absent (readers see it complete), or
  // given result `r` when present.
  Mica::Ptr<ConnectionStatus> connectionIs(const Mica::String& name, const ResultConnIntf& r) {
    auto c = connection.create(*this, name, [&](ConnectionStatus& e) { e.resultConnIntfIs(r); });
    c->resultConnIntfIs(r);
    return c;
  }
  void connectionDel(const Mica::String& name) { connection.erase(*this, name); }
  void checkInvariants() const { connection.checkInvariants(); }
};

template <>
struct fmt::formatter<ResultConnIntf> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const ResultConnIntf& r, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "{} vrf={} num={}", r.intfId, r.vrfName, r.num);
  }
};
