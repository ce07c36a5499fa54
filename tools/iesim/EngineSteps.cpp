#include <fmt/format.h>

#include <vector>

#include "tools/iesim/Steps.h"

namespace IeSim {

namespace {

using Kind = iesim::pb::Step::KindCase;
using Kiln::VrfId;
using Vxlan::VniExtOrNone;

VniExtOrNone vniOf(const iesim::pb::VrfBinding& b) {
  return b.has_vni() ? VniExtOrNone(static_cast<uint32_t>(b.vni())) : VniExtOrNone::none();
}

// Writes the binding into both maps of the VXLAN bindings; a renamed VRF leaves its old name.
void writeVrf(World& world, const iesim::pb::VrfBinding& b) {
  const VrfId id(static_cast<uint32_t>(b.id()));
  auto& info = world.vxlanInfo();
  auto& names = world.vrfNames();
  if (auto it = names.find(id); it != names.end() && it->second != b.name()) {
    info.vrfToVniMapDel(Mica::String(it->second));
  }
  names[id] = b.name();
  info.vrfIdToVniMapIs(id, vniOf(b));
  info.vrfToVniMapIs(Mica::String(b.name()), vniOf(b));
}

// A note for a VNI that has no lane-side VNI, which the trackers ignore.
void noteUnusable(VniExtOrNone vni, StepRecord& r) {
  if (vni.isNone() || vni.usable()) return;
  r.notes.push_back(fmt::format("vni {} has no lane-side VNI: its low 16 bits ({}) exceed {}",
                                vni.value(), vni.value() & 0xFFFF, VniExtOrNone::maxUsableVni));
}

void vrf(World& world, const iesim::pb::VrfBinding& b, StepRecord& r) {
  const VrfId id(static_cast<uint32_t>(b.id()));
  const auto& info = world.orbcsd().vxlanInfo.get();
  const auto old = info ? info->vrfIdToVniMap.get(id) : Quill::Optional<VniExtOrNone>();
  const auto oldName = world.vrfNames().find(id);
  const VniExtOrNone vni = vniOf(b);
  r.what = fmt::format("bind vrf {} {} to vni {} ({})", id, b.name(), vni,
                       !old ? std::string("new")
                       : *old == vni ? std::string("unchanged")
                                     : fmt::format("was {}", *old));
  if (oldName != world.vrfNames().end() && oldName->second != b.name()) {
    r.notes.push_back(fmt::format("renamed from {}", oldName->second));
  }
  noteUnusable(vni, r);
  writeVrf(world, b);
}

void removeVrf(World& world, const iesim::pb::VrfRef& ref, StepRecord& r) {
  const VrfId id(static_cast<uint32_t>(ref.id()));
  const auto& info = world.orbcsd().vxlanInfo.get();
  const auto old = info ? info->vrfIdToVniMap.get(id) : Quill::Optional<VniExtOrNone>();
  r.what = fmt::format("remove vrf {} ({})", id,
                       old ? fmt::format("was bound to vni {}", *old) : std::string("not bound"));
  if (!info) return;
  info->vrfIdToVniMapDel(id);
  if (auto it = world.vrfNames().find(id); it != world.vrfNames().end()) {
    info->vrfToVniMapDel(Mica::String(it->second));
    world.vrfNames().erase(it);
  }
}

void defaultRoute(World& world, const iesim::pb::DefaultRoute& d, StepRecord& r) {
  const VrfId id(static_cast<uint32_t>(d.vrf()));
  const bool had = world.orbcsd().defaultRoutePresentInVrf.contains(id);
  r.what = fmt::format("vrf {} {} a default route{}", id, d.present() ? "has" : "has no",
                       had == d.present() ? " (unchanged)" : d.present() ? " (gained)" : " (lost)");
  if (d.present()) {
    world.orbcsd().defaultRoutePresentInVrfIs(id);
  } else {
    world.orbcsd().defaultRoutePresentInVrfDel(id);
  }
}

void intf(World& world, const iesim::pb::Intf& i, StepRecord& r) {
  const Wire::IntfId id(i.name());
  const bool had = world.orbcsd().l3Intf.contains(id);
  r.what = fmt::format("interface {} {}{}", id, i.present() ? "present" : "absent",
                       had == i.present() ? " (unchanged)" : i.present() ? " (new)" : " (removed)");
  if (i.present()) {
    world.orbcsd().l3IntfIs(id);
  } else {
    world.orbcsd().l3IntfDel(id);
  }
}

void replaceVxlanInfo(World& world, const iesim::pb::ReplaceVxlanInfo& rep, StepRecord& r) {
  const auto& old = world.orbcsd().vxlanInfo.get();
  if (rep.none()) {
    r.what = fmt::format("replace the VXLAN bindings object by none ({} VRF bindings go)",
                         old ? old->vrfIdToVniMap.size() : 0);
    world.vrfNames().clear();
    world.orbcsd().vxlanInfoIs(nullptr);
    return;
  }
  auto next = Mica::make<Orb::VxlanInfo>();
  if (old) {
    for (const auto& [id, vni] : old->vrfIdToVniMap) next->vrfIdToVniMapIs(id, vni);
    for (const auto& [name, vni] : old->vrfToVniMap) next->vrfToVniMapIs(name, vni);
  }
  r.what = fmt::format("replace the VXLAN bindings object by a new one with the same {}",
                       plural(next->vrfIdToVniMap.size(), "VRF binding"));
  world.orbcsd().vxlanInfoIs(next);
}

}  // namespace

bool runEngineStep(World& world, const iesim::pb::Step& step, StepRecord& r) {
  switch (step.kind_case()) {
    case Kind::kVrf: vrf(world, step.vrf(), r); return true;
    case Kind::kRemoveVrf: removeVrf(world, step.remove_vrf(), r); return true;
    case Kind::kDefaultRoute: defaultRoute(world, step.default_route(), r); return true;
    case Kind::kIntf: intf(world, step.intf(), r); return true;
    case Kind::kReplaceVxlanInfo: replaceVxlanInfo(world, step.replace_vxlan_info(), r); return true;
    default: return false;
  }
}

void loadEngine(World& world, const iesim::pb::Initial& initial, StepRecord& r) {
  for (const auto& b : initial.vrf()) {
    noteUnusable(vniOf(b), r);
    writeVrf(world, b);
  }
  for (const int64_t vrf : initial.default_route()) {
    world.orbcsd().defaultRoutePresentInVrfIs(VrfId(static_cast<uint32_t>(vrf)));
  }
  for (const auto& name : initial.intf()) world.orbcsd().l3IntfIs(Wire::IntfId(name));
  if (initial.has_module() && initial.module().present()) {
    r.notes.push_back(world.dataPath().moduleIs(initial.module()) + " present");
  }
}

}  // namespace IeSim
