// Fixtures of the chain benchmarks: lane bindings and an operator configuration of the standard
// shape, the whole library over them as an agent runs it (InternetExitAssembly: the InternetExit
// module, then the ten state machines in data-flow order, on one scheduler), the data path's
// model draining the module's commands, and a counter of every write to the outputs.
//
//   IePolicyToVniLaneSm -> IeStatusConfigSm -> IeGroupToPolicySm
//   VniDefaultRouteTrackerSm -> VniLaneDefaultRouteTrackerSm
//   IeExitOptionStatusSm -> IeRemoteSvcResolverRequestSm
//   IeExitGroupStatusSm -> IePolicyStatusSm -> IeProgramDpSm -> module -> Orb::DataPathModel
//
// Standard shape: the 64 policies of BenchSupport.h each list two exit groups, at sequence
// numbers 10 and 20 (policy p: "ie-group-<2p>" and "ie-group-<2p+1>", 128 groups in all), and
// every group has two exit options (one local exit, one remote exit). A bound pair therefore
// holds one policy status configuration with two entries, two group status configurations with
// two options each, two reverse-map entries, four exit-option statuses, two resolver requests,
// two exit-group statuses (their local option usable, and their remote one when answered) and
// one policy status whose winner is the group at 10.
//
// Dedicated policy: for the benchmarks that need k pairs on one policy whatever the total, a
// 65th policy ("ie-policy-k", groups "ie-group-k10" and "ie-group-k20", same shape) is bound to
// k pairs spread evenly over the population; the others keep the standard binding.
//
// Engine state (Environment): every local exit "wan-<group>" has a connection of that name in
// the "default" VRF, each on an interface of its own, "eth-<group>", present in orbcsd.l3Intf;
// the dedicated policy's group at 10 has its local exit on "eth-k" (dedicatedInterface()), so
// that exactly k options use that interface. The InternetExit module is made by the assembly
// (unless the chain is built without it) with kOutputGates gates, more than there are
// interfaces; vxlanInfo binds one VRF id, which has a default route, to VNI kDefaultRouteVni (the
// "default" VRF of the connections needs no binding), so the VNI/lane default-route set holds the
// bound pairs of that VNI (no option of the standard shape reads it). The resolver has answered
// the remote options of every kAnsweredEvery-th pair of the standard policies; of the dedicated
// pairs, the remote option of the group at 20 is always answered and that of the group at 10
// never, so that losing "eth-k" moves every dedicated pair to its group at 20 (which then
// yields two interfaces: its local exit and its remote exit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "Orb/InternetExitAssembly.h"
#include "bench/BenchSupport.h"
#include "platform/agents/LaneStatusDir.h"
#include "platform/module/DataPathModel.h"

namespace IeBench {

using OrbInternetExit::Component;
using OrbInternetExit::ExitGroupStatus;
using OrbInternetExit::ExitGroupToPolicy;
using OrbInternetExit::ExitKey;
using OrbInternetExit::ExitOptionStatus;
using OrbInternetExit::ExitVniLaneKey;
using OrbInternetExit::IeExitGroupDir;
using OrbInternetExit::IeExitOptionDir;
using OrbInternetExit::IeExitOptionStatusSm;
using OrbInternetExit::IeGroupToPolicyDir;
using OrbInternetExit::IePolicyDir;
using OrbInternetExit::IePolicyStatusSm;
using OrbInternetExit::IePolicyToVniLaneDir;
using OrbInternetExit::IeStatusConfig;
using OrbInternetExit::IeStatusConfigDir;
using OrbInternetExit::InternetExitAssembly;
using OrbInternetExit::InternetExitCliConfig;
using OrbInternetExit::PolicyStatus;
using OrbInternetExit::PolicyStatusConfig;

// Exit groups per policy, and reverse-map entries per bound pair.
inline constexpr size_t kGroupsPerPolicy = 2;
// Exit options per bound pair (one local and one remote per group), and resolver requests.
inline constexpr size_t kOptionsPerPair = 2 * kGroupsPerPolicy;
inline constexpr size_t kRemotePerPair = kGroupsPerPolicy;
// Output gates of the InternetExit module: a gate is shared by the options of one interface, and
// there are at most 130 interfaces.
inline constexpr uint32_t kOutputGates = 512;
// The resolver has answered the remote options of the pairs whose VNI is a multiple of
// kAnsweredEvery: pairs i (pairOf) with i % kAnsweredEvery == 0.
inline constexpr size_t kAnsweredEvery = 4;
// The VNI whose bound pairs are in the VNI/lane default-route set.
inline constexpr uint32_t kDefaultRouteVni = 1;

// The dedicated policy and the group it lists at sequence number 10.
const Mica::String& dedicatedPolicy();
const Mica::String& dedicatedGroup();
// The interface of the dedicated group's local exit.
const Wire::IntfId& dedicatedInterface();
// The interface of local exit `name`'s connection.
Wire::IntfId interfaceOf(const Mica::String& localExitName);

// Lane status with pairs 0..n-1 (pairOf) bound in a seeded random order: k of them (every
// (n/k)-th) to dedicatedPolicy(), the others as laneStatusWith(n) binds them.
// REQUIRES: k <= n.
Mica::Ptr<Lane::LaneStatusDir> laneStatusWithDedicated(size_t n, size_t k);

// The configuration of the standard shape; with `dedicated`, also the dedicated policy.
Mica::Ptr<InternetExitCliConfig> standardConfig(bool dedicated);

// The module options of the chains: the InternetExit module, with kOutputGates gates.
OrbInternetExit::ModuleOptions moduleOptions();

// Everything the library reads besides the bindings and the configuration, and the resolver
// directories it writes: orbcsd with its interfaces, VXLAN bindings and default route, the
// connections, the resolver's responses, requests and in-use notifications (see Engine state
// above).
struct Environment {
  // The engine state for the local exits of `config` and the remote exits of the pairs bound to
  // `lanes`. With `ownModule`, an InternetExit module of the chain's options is made here (with
  // its configuration/status pair) but not set in orbcsd: the module's arrival.
  Environment(const InternetExitCliConfig& config, const Lane::LaneStatusDir& lanes, bool ownModule);
  ~Environment();
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;

  Mica::Ptr<Orb::OrbCommonSmData> orbcsd;
  Mica::Ptr<SiConnectionStatusDir> connections;
  Mica::Ptr<SvcResolverResponseDir> responses;
  Mica::Ptr<SvcResolverRequestDir> requests;
  Mica::Ptr<SvcInUseNotificationDir> notifications;
  Mica::Ptr<Orb::ModuleConfigStatusPair> ownModulePair;  // with ownModule
  Mica::Ptr<Orb::InternetExit> ownModule;                // with ownModule
};

// The remote option of pair i's group at sequence number 10 (standard binding), as the
// resolver names it.
VniLaneSvcGroupName remoteOptionOf(size_t i);

// The whole library over given lanes and configuration, on one scheduler with the default yield
// policy, its outputs and the data path's model. Destruction stops the state machines and
// releases everything.
struct Chain {
  // `withModule`: the assembly makes the InternetExit module before the state machines (the
  // agent's order); without it the module is the environment's, set in orbcsd by the caller.
  Chain(Mica::Ptr<Lane::LaneStatusDir> lanesIn, Mica::Ptr<InternetExitCliConfig> configIn, bool withModule = true);
  ~Chain();
  Chain(const Chain&) = delete;
  Chain& operator=(const Chain&) = delete;

  // Creates the module (first time, with the module) and the ten state machines in data-flow
  // order; the scheduler runs them afterwards.
  void start();
  // Destroys the ten state machines, last first; the module and the outputs stay (the
  // default-route trackers empty their sets).
  void stop();
  // Runs the scheduler until idle, then lets the data path apply what the module queued;
  // returns the commands the data path was given (applied or refused).
  uint64_t settle();
  uint64_t startAndRun() {
    start();
    return settle();
  }
  // Every state machine idle, no command left queued, and the outputs complete for `pairs` bound
  // pairs of the standard shape (one status per pair, kGroupsPerPolicy reverse-map entries and
  // exit-group statuses, kOptionsPerPair exit-option statuses, kRemotePerPair resolver requests
  // and one policy status per pair; as many exit-table entries as policy interfaces).
  bool idleAndComplete(size_t pairs) const;

  // The module the state machines use, and the pair its commands are queued on (the
  // environment's until the caller sets it in orbcsd).
  const Mica::Ptr<Orb::InternetExit>& module() const;
  const Mica::Ptr<Orb::ModuleConfigStatusPair>& modulePair() const;
  // Interfaces of every policy status (what the exit table mirrors).
  size_t policyInterfaces() const;
  // Commands the data path was given so far (applied or refused).
  uint64_t commands() const noexcept { return dataPath->applied() + dataPath->rejected(); }

  // The gate users of every interface of orbcsd.l3Intf on the module, and the module's gates in
  // use (last element): equal before and after means no gate changed hands.
  std::vector<uint32_t> gateState() const;

  Mica::Ptr<Lane::LaneStatusDir> lanes;
  Mica::Ptr<InternetExitCliConfig> config;
  std::unique_ptr<Environment> env;
  // The outputs (LibraryOutputs), held here too so that each can be released on its own.
  Mica::Ptr<IePolicyToVniLaneDir> bindings;
  Mica::Ptr<IeStatusConfigDir> status;
  Mica::Ptr<IeExitOptionDir> exitOptions;
  Mica::Ptr<IeExitGroupDir> exitGroups;
  Mica::Ptr<IeGroupToPolicyDir> groupToPolicy;
  Mica::Ptr<IePolicyDir> policies;
  Mica::Ptr<OrbL3Unicast::DefaultRoutePresentInVni> vniDefaultRoutes;
  Mica::Ptr<OrbL3Unicast::DefaultRoutePresentForVniLane> vniLaneDefaultRoutes;
  Mica::Ptr<Keel::TaskScheduler> scheduler;
  std::unique_ptr<InternetExitAssembly> assembly;
  std::unique_ptr<Orb::DataPathModel> dataPath;
  bool withModule;
};

// Counts every notification of the library's outputs, down to their innermost entities, in four
// groups:
//   kFirstThree   the bindings, the status configuration (pair statuses, group statuses with
//                 their options, policy statuses with their entries), the reverse map (group
//                 entries with their policy sets)
//   kExitOutputs  the exit-option statuses (entries, with their group sets and results) and the
//                 resolver requests
//   kPolicyOutputs  the exit-group statuses (entries with their results), the policy statuses
//                 (entries with their interfaces and winner) and the in-use notifications
//   kDefaultRoutes  the two default-route sets
// writes() counts the first three groups: the default-route trackers empty and refill their
// sets when they restart, by design, so those writes are counted apart.
//
// One subscriber per watched entity; an entity created inside a watched one while the watch
// lives is watched too (its parent notifies the creation first). The watch holds every entity
// it subscribed to and unsubscribes from all of them when destroyed, so it may end before or
// after the chain. Watching costs a subscriber and a reference per entity; attach it outside the
// timed work.
class OutputWatch {
 public:
  OutputWatch() = default;
  ~OutputWatch();
  OutputWatch(const OutputWatch&) = delete;
  OutputWatch& operator=(const OutputWatch&) = delete;

  enum Outputs { kFirstThree, kExitOutputs, kPolicyOutputs, kDefaultRoutes };

  // Every entity of every output.
  void watchAll(const Chain& chain);
  // The output roots and the entities of pair v: its status, its reverse-map entries, its
  // exit-option and exit-group statuses and its policy statuses. Counts every write that a
  // change confined to pair v makes.
  void watchPair(const Chain& chain, Lane::VniAndLaneId v);

  uint64_t writes() const noexcept {
    return writes_[kFirstThree] + writes_[kExitOutputs] + writes_[kPolicyOutputs];
  }
  uint64_t writes(Outputs o) const noexcept { return writes_[o]; }
  size_t watched() const noexcept { return subs_.size(); }

 private:
  using Created = void (*)(OutputWatch&, const Mica::Entity&, Mica::AttrId, const void* key);

  // Counts the notifications of one entity; `created` follows new child entities.
  class Sub final : public Mica::Subscriber {
   public:
    Sub(OutputWatch& watch, const Mica::Entity& entity, Created created, Outputs output)
        : watch_(watch), entity_(&entity), created_(created), output_(output) {}
    void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override;
    const Mica::Entity& entity() const noexcept { return *entity_; }

   private:
    OutputWatch& watch_;
    Mica::Ptr<const Mica::Entity> entity_;
    Created created_;
    Outputs output_;
  };

  void subscribe(const Mica::Entity& e, Created created, Outputs output = kFirstThree);
  void root(const Mica::Entity& e, Created created, Outputs output = kFirstThree);
  void roots(const Chain& chain);
  void tree(const IeStatusConfig& c);
  void tree(const PolicyStatusConfig& p);
  void tree(const ExitGroupToPolicy& g);
  static void statusDirCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key);
  static void statusCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId attr, const void* key);
  static void policyStatusCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key);
  static void groupMapCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key);
  static void exitOptionCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key);
  static void exitGroupCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key);
  static void policyCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key);

  static constexpr size_t kRoots = 10;
  std::deque<Sub> subs_;
  const Mica::Entity* roots_[kRoots] = {};
  uint64_t writes_[4] = {};
};

}  // namespace IeBench
