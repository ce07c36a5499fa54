#include "platform/module/SiModuleGateManager.h"

#include <algorithm>
#include <utility>

#include "platform/engine/OrbCommonSmData.h"
#include "platform/mica/Assert.h"
#include "platform/module/Module.h"

namespace Orb {

SiModuleGateManager::SiModuleGateManager(Mica::Ptr<const OrbCommonSmData> orbcsd)
    : orbcsd_(std::move(orbcsd)) {}

SiModuleGateManager::~SiModuleGateManager() = default;

SiModuleGateManager::ModuleGates* SiModuleGateManager::find(const Module& module) {
  auto it = modules_.find(module.serial());
  return it == modules_.end() ? nullptr : &it->second;
}

const SiModuleGateManager::ModuleGates* SiModuleGateManager::find(const Module& module) const {
  auto it = modules_.find(module.serial());
  return it == modules_.end() ? nullptr : &it->second;
}

uint32_t SiModuleGateManager::takeGate(ModuleGates& gates) {
  if (!gates.freed.empty()) {
    return gates.freed.extract(gates.freed.begin()).value();
  }
  if (gates.next < gates.end) return gates.next++;
  return noGate;
}

uint32_t SiModuleGateManager::assignGate(const Mica::Ptr<Module>& module, const Wire::IntfId& intf) {
  if (!module || !intf.valid()) return noGate;
  auto [it, created] = modules_.try_emplace(module->serial());
  ModuleGates& gates = it->second;
  if (created) {
    gates.moduleName = module->name();
    gates.first = module->reservedOutGate();
    gates.end = std::max(module->maxOutGate(), gates.first);
    gates.next = gates.first;
  }
  if (auto held = gates.byIntf.find(intf); held != gates.byIntf.end()) {
    ++held->second.users;
    return held->second.gate;
  }
  const uint32_t gate = takeGate(gates);
  if (gate != noGate) gates.byIntf.emplace(intf, Assignment{gate, 1});
  return gate;
}

bool SiModuleGateManager::releaseGate(const Mica::Ptr<Module>& module, const Wire::IntfId& intf) {
  if (!module) return false;
  ModuleGates* gates = find(*module);
  if (gates == nullptr) return false;
  auto held = gates->byIntf.find(intf);
  if (held == gates->byIntf.end()) return false;
  if (--held->second.users == 0) {
    gates->freed.insert(held->second.gate);
    gates->byIntf.erase(held);
  }
  return true;
}

void SiModuleGateManager::releaseAllGates(const Mica::Ptr<Module>& module) {
  if (!module) return;
  ModuleGates* gates = find(*module);
  if (gates == nullptr) return;
  // Every number handed out becomes free: start the range afresh.
  gates->byIntf.clear();
  gates->freed.clear();
  gates->next = gates->first;
}

uint32_t SiModuleGateManager::gateOf(const Module& module, const Wire::IntfId& intf) const {
  const ModuleGates* gates = find(module);
  if (gates == nullptr) return noGate;
  auto held = gates->byIntf.find(intf);
  return held == gates->byIntf.end() ? noGate : held->second.gate;
}

uint32_t SiModuleGateManager::usersOf(const Module& module, const Wire::IntfId& intf) const {
  const ModuleGates* gates = find(module);
  if (gates == nullptr) return 0;
  auto held = gates->byIntf.find(intf);
  return held == gates->byIntf.end() ? 0 : held->second.users;
}

size_t SiModuleGateManager::gatesInUse(const Module& module) const {
  const ModuleGates* gates = find(module);
  return gates == nullptr ? 0 : gates->byIntf.size();
}

void SiModuleGateManager::checkInvariants() const {
  for (const auto& [serial, gates] : modules_) {
    Mica::check(gates.first <= gates.next && gates.next <= gates.end,
                "SiModuleGateManager: high-water mark outside the gate range");
    absl::btree_set<uint32_t> held;
    for (const auto& [intf, a] : gates.byIntf) {
      Mica::check(a.users >= 1, "SiModuleGateManager: gate without users");
      Mica::check(a.gate >= gates.first && a.gate < gates.next,
                  "SiModuleGateManager: gate outside the handed-out range");
      Mica::check(held.insert(a.gate).second, "SiModuleGateManager: gate held twice");
    }
    for (uint32_t g : gates.freed) {
      Mica::check(g >= gates.first && g < gates.next, "SiModuleGateManager: free gate out of range");
      Mica::check(!held.contains(g), "SiModuleGateManager: free gate is held");
    }
    Mica::check(held.size() + gates.freed.size() == gates.next - gates.first,
                "SiModuleGateManager: a handed-out gate is neither held nor free");
  }
}

void SiModuleGateManager::dumpState(const Mica::Ptr<const Keel::DumpContext>& ctx,
                                    unsigned indent) const {
  const int at = static_cast<int>(indent);
  Keel::_objDumpPrintf(ctx, "%*sSiModuleGateManager\n", at, "");
  for (const auto& [serial, gates] : modules_) {
    if (gates.first == gates.end) {
      Keel::_objDumpPrintf(ctx, "%*sModule %s: no gates\n", at + 2, "", gates.moduleName.c_str());
    } else {
      Keel::_objDumpPrintf(ctx, "%*sModule %s: gates %u..%u\n", at + 2, "",
                           gates.moduleName.c_str(), gates.first, gates.end - 1);
    }
    for (const auto& [intf, a] : gates.byIntf) {
      Keel::_objDumpPrintf(ctx, "%*s%s: gate %u users %u\n", at + 4, "", intf.name().c_str(),
                           a.gate, a.users);
    }
  }
}

}  // namespace Orb
