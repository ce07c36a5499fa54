// OrbSiEdgeModule: the data-path modules of the internet-exit feature.
//
//   state machines --(OrbInternetExitUtil)--> orbcsd.internetExitModule = InternetExit / SiEdge
//        InternetExit --assignGate/releaseGate--> SiModuleGateManager (made for orbcsd)
//        InternetExit --"addLaneIeExitInfo"/"delLaneIeExitInfo"--> modulePair.config (queued)
//
// Orb::InternetExit owns the allocation of output gates to exit interfaces, through a gate
// manager it makes at initialisation, and turns each exit interface of a (VNI, lane) pair into an
// add or delete command carrying an orb::pb::IeLaneToExitInfoArg. Orb::SiEdge is an InternetExit
// with one command of its own, "setupEdgeCounters". The agent creates both through the exported
// factories; the state machines reach them only through OrbCommonSmData::internetExitModule.
//
// Commands are only queued on the configuration half of the module's pair; the module keeps no
// table of its own. Traces go through the debug handler "OrbSiEdgeModule" at level 4 and the
// process Blip ring.
//
// Lifecycle: the constructor runs handleInitialized(), so a constructed module always has a gate
// manager made for its orbcsd. Destruction removes the gate manager with gateManagerDel()
// (publishing the change; subscribers must not take a reference to the dying module), then drops
// orbcsd. Gates still assigned go away with the gate manager.
//
// Thread-safety: none; the agent's scheduler thread only.
#pragma once

#include <cstdint>

#include "platform/agents/VniAndLaneId.h"
#include "platform/engine/IntfId.h"
#include "platform/engine/OrbCommonSmData.h"
#include "platform/module/Module.h"
#include "platform/module/SiModuleGateManager.h"
#include "proto/orb.pb.h"
#include "types/ExitIntfResult.h"

namespace Orb {

class InternetExit : public Module {
 public:
  static constexpr TypeData kType{"InternetExit", &Module::kType};
  enum : Mica::AttrId { gateManagerId = 1 };
  // The no-gate value.
  static constexpr uint32_t noGate = SiModuleGateManager::noGate;

  // Passes the first seven arguments to Module (with no initial message), keeps `orbcsd`, then
  // runs handleInitialized().
  InternetExit(Mica::String name, OrbModule::ModuleClass moduleClass, uint32_t maxInGate,
               uint32_t maxOutGate, uint32_t reservedInGate, uint32_t reservedOutGate,
               Mica::Ptr<ModuleConfigStatusPair> modulePair,
               Mica::Ptr<const OrbCommonSmData> orbcsd);
  ~InternetExit() override;

  // Generic construction: the same as internetExitFactory.
  static Mica::Ptr<InternetExit> InternetExitIs(
      Mica::String name, OrbModule::ModuleClass moduleClass, uint32_t maxInGate,
      uint32_t maxOutGate, uint32_t reservedInGate, uint32_t reservedOutGate,
      Mica::Ptr<ModuleConfigStatusPair> modulePair, Mica::Ptr<const OrbCommonSmData> orbcsd);

  const Mica::Ptr<const OrbCommonSmData>& orbcsd() const noexcept { return orbcsd_; }
  // Empty only after gateManagerDel().
  const Mica::Ptr<SiModuleGateManager>& gateManager() const noexcept { return gateManager_.get(); }

  // Writes an empty level-4 trace, then makes the gate manager: gateManagerIs(orbcsd()).
  void handleInitialized();
  // The gate manager in effect. If the current one was made for this same `orbcsd`, returns it
  // and publishes nothing; otherwise replaces it with a new one made for `orbcsd` and publishes
  // one change of gateManager (the old manager lives until the change has been delivered).
  Mica::Ptr<SiModuleGateManager> gateManagerIs(const Mica::Ptr<const OrbCommonSmData>& orbcsd);
  // Empties gateManager, publishing the change, and returns the removed manager (empty, with
  // nothing published, if there was none).
  Mica::Ptr<SiModuleGateManager> gateManagerDel();

  // The gate manager's answers for this module, unchanged. Without a gate manager: noGate,
  // false and nothing.
  uint32_t assignGate(const Wire::IntfId& intfId);
  bool releaseGate(const Wire::IntfId& intfId);
  void releaseAllGates();

  // Queues "addLaneIeExitInfo" (add) or "delLaneIeExitInfo" (!add) with an IeLaneToExitInfoArg
  // made from `vniAndLane` and `exitIntf` (everything but its vrfName; no filtering: a result
  // without gate or of type noResult is sent as it is). Always true.
  bool ieUpdateLaneExitInfo(Lane::VniAndLaneId vniAndLane,
                            const OrbInternetExit::ExitIntfResult& exitIntf, bool add);
  // Queues "setupCounters" carrying `arg`, which passes to the command.
  void setupCounters(orb::pb::InternetExitCountersArg* arg);

  // Checks the gate manager's invariants (when there is one).
  void checkInvariants() const;

  const TypeData& typeData() const override { return kType; }
  // "InternetExit" at `indent` blanks, then the gate manager at indent + 2 ("gateManager: none"
  // when there is none).
  void dumpState(const Mica::Ptr<const Keel::DumpContext>& ctx, unsigned indent) const override;

 protected:
  // Sends one module command: builds it with moduleCmdFactory (module name, `cmdName`, `arg`,
  // true) and queues it on the configuration half. `arg` passes to the command; without a
  // configuration half it is deleted and nothing is queued.
  void sendCmd(const Mica::String& cmdName, google::protobuf::Message* arg);

 private:
  Mica::Ptr<const OrbCommonSmData> orbcsd_;
  Mica::Scalar<Mica::Ptr<SiModuleGateManager>, gateManagerId> gateManager_;
};

class SiEdge : public InternetExit {
 public:
  static constexpr TypeData kType{"SiEdge", &InternetExit::kType};

  using InternetExit::InternetExit;
  ~SiEdge() override;

  // Generic construction: the same as siEdgeFactory.
  static Mica::Ptr<SiEdge> SiEdgeIs(Mica::String name, OrbModule::ModuleClass moduleClass,
                                    uint32_t maxInGate, uint32_t maxOutGate,
                                    uint32_t reservedInGate, uint32_t reservedOutGate,
                                    Mica::Ptr<ModuleConfigStatusPair> modulePair,
                                    Mica::Ptr<const OrbCommonSmData> orbcsd);

  // Queues "setupEdgeCounters" carrying `arg`, which passes to the command.
  void setupEdgeCounters(orb::pb::SiEdgeCountersArg* arg);

  const TypeData& typeData() const override { return kType; }
};

// Exported factories: allocate and construct one module and return a counted reference to it.
Mica::Ptr<InternetExit> internetExitFactory(Mica::String name, OrbModule::ModuleClass moduleClass,
                                            uint32_t maxInGate, uint32_t maxOutGate,
                                            uint32_t reservedInGate, uint32_t reservedOutGate,
                                            Mica::Ptr<ModuleConfigStatusPair> modulePair,
                                            Mica::Ptr<const OrbCommonSmData> orbcsd);
Mica::Ptr<SiEdge> siEdgeFactory(Mica::String name, OrbModule::ModuleClass moduleClass,
                                uint32_t maxInGate, uint32_t maxOutGate, uint32_t reservedInGate,
                                uint32_t reservedOutGate,
                                Mica::Ptr<ModuleConfigStatusPair> modulePair,
                                Mica::Ptr<const OrbCommonSmData> orbcsd);

// The data path's result type with the same number as `t`. A number above 4 (no ExitResultType
// has one) fails the assertion "false".
orb::pb::IeResultType ieGetPbResultType(OrbInternetExit::ExitResultType t);

}  // namespace Orb
