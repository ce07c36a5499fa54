// Orb::OrbCommonSmData: the forwarding-engine agent's common state, as this library reads it.
//
// One entity, owned and written by the agent, handed to the library's state machines and
// data-path modules as `orbcsd` (a counted reference; the library holds it as const and never
// writes it). Attributes and their notifications (attribute id, key, old value):
//
//   internetExitModule        Ptr<Module>, null while the engine has no InternetExit module.
//                             (internetExitModuleId, null, &old Ptr<Module>) on change; the
//                             new value is readable at once.
//   l3Intf                    IntfId -> L3Intf; only presence matters.
//                             (l3IntfId, &IntfId, null) on creation,
//                             (l3IntfId, &IntfId, &old Ptr<L3Intf>) on removal.
//   vxlanInfo                 Ptr<VxlanInfo>, may be null, may be replaced by another object.
//                             (vxlanInfoId, null, &old Ptr<VxlanInfo>) on change; a reader of
//                             the VxlanInfo maps moves its subscription to the new object.
//   defaultRoutePresentInVrf  set of VrfId: VRFs that currently have a default route.
//                             (defaultRoutePresentInVrfId, &VrfId, null) on addition and on
//                             removal; the reader tests membership.
//
// Writing an equal value, adding a present member or deleting an absent key notifies nobody.
//
// Orb::Module is only declared here: the module layer builds on this entity (its gate manager
// is made from it), so the dependency points the other way. Code that sets or clears the
// module, or destroys this entity, needs Module complete; that code lives in
// OrbCommonSmData.cpp. Readers that dereference the module include platform/module/Module.h.
#pragma once

#include "platform/engine/IntfId.h"
#include "platform/engine/L3Intf.h"
#include "platform/engine/VrfId.h"
#include "platform/engine/VxlanInfo.h"
#include "platform/keel/Dump.h"
#include "platform/mica/Entity.h"

namespace Orb {

class Module;

class OrbCommonSmData : public Mica::Entity {
 public:
  enum : Mica::AttrId {
    internetExitModuleId = 1,
    l3IntfId = 2,
    vxlanInfoId = 3,
    defaultRoutePresentInVrfId = 4,
  };

  OrbCommonSmData();
  ~OrbCommonSmData() override;

  Mica::Scalar<Mica::Ptr<Module>, internetExitModuleId> internetExitModule;
  Mica::EntityMap<Wire::IntfId, L3Intf, l3IntfId> l3Intf;
  Mica::Scalar<Mica::Ptr<VxlanInfo>, vxlanInfoId> vxlanInfo;
  Mica::ValueSet<Kiln::VrfId, defaultRoutePresentInVrfId> defaultRoutePresentInVrf;

  // Sets the module (null: the engine has no InternetExit module).
  void internetExitModuleIs(Mica::Ptr<Module> module);

  // The interface under `intf`, created when absent.
  Mica::Ptr<L3Intf> l3IntfIs(const Wire::IntfId& intf) { return l3Intf.create(*this, intf); }
  void l3IntfDel(const Wire::IntfId& intf) { l3Intf.erase(*this, intf); }

  // Replaces the VXLAN bindings object (null: none).
  void vxlanInfoIs(Mica::Ptr<VxlanInfo> info) { vxlanInfo.set(*this, std::move(info)); }

  void defaultRoutePresentInVrfIs(Kiln::VrfId vrf) { defaultRoutePresentInVrf.insert(*this, vrf); }
  void defaultRoutePresentInVrfDel(Kiln::VrfId vrf) { defaultRoutePresentInVrf.erase(*this, vrf); }

  void checkInvariants() const;
  // Writes the attributes in a fixed order (module presence, interfaces, default routes, then
  // the VXLAN bindings), each collection in key order, indented by `indentCount` blanks.
  void dumpState(const Mica::Ptr<const Keel::DumpContext>& ctx, unsigned indentCount) const;
};

}  // namespace Orb
