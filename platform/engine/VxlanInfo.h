// Orb::VxlanInfo: the VXLAN bindings of the engine's VRFs.
//
// Two maps give the VNI bound to each VRF, one keyed by VRF id and one by VRF name; the agent
// keeps them in step. A value may be Vxlan::VniExtOrNone::none() (the VRF is known but bound to
// no VNI). Readers follow both maps through the entity's notifications:
//   (vrfIdToVniMapId, &VrfId, null)            binding added
//   (vrfIdToVniMapId, &VrfId, &old VNI)        binding changed or removed
// and likewise for vrfToVniMapId with a Mica::String key. Writing an equal value or removing an
// absent key notifies nobody.
//
// The object is held by OrbCommonSmData::vxlanInfo and may be replaced there as a whole; a reader
// that follows these maps moves its subscription to the new object itself.
#pragma once

#include "platform/engine/VniExtOrNone.h"
#include "platform/engine/VrfId.h"
#include "platform/keel/Dump.h"
#include "platform/mica/Entity.h"
#include "platform/mica/String.h"

namespace Orb {

class VxlanInfo : public Mica::Entity {
 public:
  enum : Mica::AttrId { vrfIdToVniMapId = 1, vrfToVniMapId = 2 };

  Mica::ValueMap<Kiln::VrfId, Vxlan::VniExtOrNone, vrfIdToVniMapId> vrfIdToVniMap;
  Mica::ValueMap<Mica::String, Vxlan::VniExtOrNone, vrfToVniMapId> vrfToVniMap;

  void vrfIdToVniMapIs(Kiln::VrfId vrf, Vxlan::VniExtOrNone vni) { vrfIdToVniMap.set(*this, vrf, vni); }
  void vrfIdToVniMapDel(Kiln::VrfId vrf) { vrfIdToVniMap.erase(*this, vrf); }
  void vrfToVniMapIs(const Mica::String& vrfName, Vxlan::VniExtOrNone vni) {
    vrfToVniMap.set(*this, vrfName, vni);
  }
  void vrfToVniMapDel(const Mica::String& vrfName) { vrfToVniMap.erase(*this, vrfName); }

  void checkInvariants() const {
    vrfIdToVniMap.checkInvariants();
    vrfToVniMap.checkInvariants();
  }
  // "<indent>VrfIdToVni: #<n>" then "<indent+2>VrfId: <vrf> Vni: <vni>" per entry, then the same
  // for VrfToVni ("VrfName: <name> Vni: <vni>"), each in key order.
  void dumpState(const Mica::Ptr<const Keel::DumpContext>& ctx, unsigned indentCount) const;
};

}  // namespace Orb
