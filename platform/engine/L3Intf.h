// Orb::L3Intf: one layer-3 interface of the router, as the engine's common state holds it.
//
// The library only asks whether an interface is present (OrbCommonSmData::l3Intf); the entity
// therefore carries nothing but its id. The agent creates one per interface through
// OrbCommonSmData::l3IntfIs and removes it with l3IntfDel.
#pragma once

#include "platform/engine/IntfId.h"
#include "platform/mica/Entity.h"

namespace Orb {

class L3Intf : public Mica::Entity {
 public:
  explicit L3Intf(Wire::IntfId intfId) noexcept : intfId_(std::move(intfId)) {}

  const Wire::IntfId& intfId() const noexcept { return intfId_; }

 private:
  const Wire::IntfId intfId_;
};

}  // namespace Orb
