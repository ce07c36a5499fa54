// Orb::SiModuleGateManager: hands out a module's output gates to interfaces.
//
// A gate manager is made for one engine common state (OrbCommonSmData) and serves any module
// that asks, keeping one gate table per module. In a module's table an interface holds at most
// one gate, with a count of its users:
//
//   assignGate(m, intf)   intf's gate on m, adding a user; a new gate for its first user
//   releaseGate(m, intf)  drops one user; the gate is free again once its last user is gone
//   releaseAllGates(m)    frees every gate of m at once, whatever the counts
//
// Numbering is deterministic: a module's exit gates are [reservedOutGate, maxOutGate) (the gates
// below reservedOutGate are the framework's), and a new gate is always the lowest free number.
// When the range is exhausted (or empty) assignGate answers noGate.
//
// Invariants (checkInvariants):
//   1. every assigned gate lies in its module's range and is held by exactly one interface;
//   2. every user count is at least 1;
//   3. free numbers are exactly the numbers of the range below the high-water mark that no
//      interface holds.
//
// Tables are keyed by Module::serial(), so a module that dies without releaseAllGates leaves an
// unreachable table (gone with the manager) rather than one that a later module could inherit.
//
// Thread-safety: none; the agent's scheduler thread only.
#pragma once

#include <absl/container/btree_map.h>
#include <absl/container/btree_set.h>

#include <cstdint>

#include "platform/engine/IntfId.h"
#include "platform/keel/Dump.h"
#include "platform/mica/Node.h"
#include "platform/mica/String.h"

namespace Orb {

class Module;
class OrbCommonSmData;

class SiModuleGateManager : public Mica::Node {
 public:
  // The no-gate value.
  static constexpr uint32_t noGate = 0xFFFFFFFF;

  explicit SiModuleGateManager(Mica::Ptr<const OrbCommonSmData> orbcsd);
  ~SiModuleGateManager() override;

  // The common state this manager was made for.
  const Mica::Ptr<const OrbCommonSmData>& orbcsd() const noexcept { return orbcsd_; }

  // The gate of `intf` on `module`, adding one user. noGate for an empty module, for the
  // invalid interface id and when the module's range has no free gate (no user is added then).
  uint32_t assignGate(const Mica::Ptr<Module>& module, const Wire::IntfId& intf);
  // Drops one user of `intf`'s gate on `module`; true if `intf` held a gate there.
  bool releaseGate(const Mica::Ptr<Module>& module, const Wire::IntfId& intf);
  // Frees every gate of `module`.
  void releaseAllGates(const Mica::Ptr<Module>& module);

  // Inspection: `intf`'s gate on `module` (noGate if none) and its number of users (0 if none).
  uint32_t gateOf(const Module& module, const Wire::IntfId& intf) const;
  uint32_t usersOf(const Module& module, const Wire::IntfId& intf) const;
  // Gates of `module` held by some interface.
  size_t gatesInUse(const Module& module) const;

  // Aborts (through the assertion handler) on a broken invariant.
  void checkInvariants() const;
  // "SiModuleGateManager", then per module in creation order "Module <name>: gates <first>..<last>"
  // and per interface in name order "<intf>: gate <n> users <k>", each level 2 blanks deeper.
  void dumpState(const Mica::Ptr<const Keel::DumpContext>& ctx, unsigned indent) const;

 private:
  struct Assignment {
    uint32_t gate;
    uint32_t users;
  };
  struct ModuleGates {
    Mica::String moduleName;
    uint32_t first = 0;  // range [first, end)
    uint32_t end = 0;
    uint32_t next = 0;  // high-water mark: numbers >= next were never handed out
    absl::btree_set<uint32_t> freed;  // released numbers below next
    absl::btree_map<Wire::IntfId, Assignment> byIntf;
  };

  ModuleGates* find(const Module& module);
  const ModuleGates* find(const Module& module) const;
  static uint32_t takeGate(ModuleGates& gates);

  Mica::Ptr<const OrbCommonSmData> orbcsd_;
  absl::btree_map<uint64_t, ModuleGates> modules_;
};

}  // namespace Orb
