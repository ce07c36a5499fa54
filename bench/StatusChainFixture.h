// Fixtures of the status-chain benchmarks: lane bindings and an operator configuration of the
// standard shape, the chain of five state machines over them on one scheduler,
//
//   IePolicyToVniLaneSm -> IeStatusConfigSm -> IeGroupToPolicySm
//                                           -> IeExitOptionStatusSm -> IeRemoteSvcResolverRequestSm
//
// with the engine state the exit options need, and a counter of every write to the outputs.
//
// Standard shape: the 64 policies of BenchSupport.h each list two exit groups, at sequence
// numbers 10 and 20 (policy p: "ie-group-<2p>" and "ie-group-<2p+1>", 128 groups in all), and
// every group has two exit options (one local exit, one remote exit). A bound pair therefore
// holds one policy status with two entries, two group statuses with two options each, and two
// reverse-map entries.
//
// Dedicated policy: for the benchmarks that need k pairs on one policy whatever the total, a
// 65th policy ("ie-policy-k", groups "ie-group-k10" and "ie-group-k20", same shape) is bound to
// k pairs spread evenly over the population; the others keep the standard binding.
//
// Engine state (Environment): every local exit "wan-<group>" has a connection of that name in
// the "default" VRF, each on an interface of its own, "eth-<group>", present in orbcsd.l3Intf;
// the dedicated policy's group at 10 has its local exit on "eth-k" (dedicatedInterface()), so
// that exactly k options use that interface. The InternetExit module is present (unless the
// chain is built without it) with kOutputGates gates, more than there are interfaces; vxlanInfo
// is present and empty (the "default" VRF needs no binding). The resolver has answered the
// remote options of every kAnsweredEvery-th pair, whatever its policy; the VNI/lane
// default-route set is empty (no option of the standard shape reads it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "Orb/OrbInternetExitStatusSm/IeExitOptionStatusSm.h"
#include "Orb/OrbInternetExitStatusSm/IeGroupToPolicySm.h"
#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"
#include "Orb/OrbInternetExitStatusSm/IeRemoteSvcResolverRequestSm.h"
#include "Orb/OrbInternetExitStatusSm/IeStatusConfigSm.h"
#include "Orb/OrbSiEdgeModule.h"
#include "bench/BenchSupport.h"
#include "platform/agents/LaneStatusDir.h"

namespace IeBench {

using OrbInternetExit::ExitGroupToPolicy;
using OrbInternetExit::ExitKey;
using OrbInternetExit::ExitOptionStatus;
using OrbInternetExit::ExitVniLaneKey;
using OrbInternetExit::IeExitOptionDir;
using OrbInternetExit::IeExitOptionStatusSm;
using OrbInternetExit::IeRemoteSvcResolverRequestSm;
using OrbInternetExit::IeGroupToPolicyDir;
using OrbInternetExit::IeGroupToPolicySm;
using OrbInternetExit::IePolicyToVniLaneDir;
using OrbInternetExit::IePolicyToVniLaneSm;
using OrbInternetExit::IeStatusConfig;
using OrbInternetExit::IeStatusConfigDir;
using OrbInternetExit::IeStatusConfigSm;
using OrbInternetExit::InternetExitCliConfig;
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

// Everything the exit options read besides the status configuration: orbcsd with its
// interfaces, VXLAN bindings and module, the connections, the resolver's responses and the
// VNI/lane default routes (see Engine state above).
struct Environment {
  // The engine state for the local exits of `config` and the remote exits of the first n pairs
  // (pairOf) bound to `lanes`; with `module`, the InternetExit module is in orbcsd.
  Environment(const InternetExitCliConfig& config, const Lane::LaneStatusDir& lanes, bool module);
  ~Environment();
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;

  Mica::Ptr<Orb::OrbCommonSmData> orbcsd;
  Mica::Ptr<Orb::InternetExit> module;  // made for orbcsd, whether or not orbcsd holds it
  Mica::Ptr<SiConnectionStatusDir> connections;
  Mica::Ptr<SvcResolverResponseDir> responses;
  Mica::Ptr<OrbInternetExit::DefaultRoutePresentForVniLane> defaultRoutes;
};

// The remote option of pair i's group at sequence number 10 (standard binding), as the
// resolver names it.
VniLaneSvcGroupName remoteOptionOf(size_t i);

// The five state machines over given lanes and configuration, on one scheduler with the default
// yield policy, and their outputs. Destruction stops the state machines and releases everything.
struct Chain {
  Chain(Mica::Ptr<Lane::LaneStatusDir> lanesIn, Mica::Ptr<InternetExitCliConfig> configIn, bool withModule = true);
  ~Chain() { stop(); }
  Chain(const Chain&) = delete;
  Chain& operator=(const Chain&) = delete;

  // Creates the five state machines in data-flow order; the scheduler runs them afterwards.
  void start();
  // Destroys them, last first (the outputs stay as they are).
  void stop();
  void startAndRun() {
    start();
    scheduler->runUntilIdle();
  }
  // Every state machine idle, and the outputs complete for `pairs` bound pairs of the standard
  // shape (one status per pair, kGroupsPerPolicy reverse-map entries, kOptionsPerPair exit-option
  // statuses and kRemotePerPair resolver requests per pair).
  bool idleAndComplete(size_t pairs) const;

  // The gate users of every interface of orbcsd.l3Intf on the module, and the module's gates in
  // use (last element): equal before and after means no gate changed hands.
  std::vector<uint32_t> gateState() const;

  Mica::Ptr<Lane::LaneStatusDir> lanes;
  Mica::Ptr<InternetExitCliConfig> config;
  std::unique_ptr<Environment> env;
  Mica::Ptr<IePolicyToVniLaneDir> bindings;
  Mica::Ptr<IeStatusConfigDir> status;
  Mica::Ptr<IeGroupToPolicyDir> groupToPolicy;
  Mica::Ptr<IeExitOptionDir> exitOptions;
  Mica::Ptr<SvcResolverRequestDir> requests;
  Mica::Ptr<Keel::TaskScheduler> scheduler;
  Mica::Ptr<IePolicyToVniLaneSm> policySm;
  Mica::Ptr<IeStatusConfigSm> statusSm;
  Mica::Ptr<IeGroupToPolicySm> groupSm;
  Mica::Ptr<IeExitOptionStatusSm> optionSm;
  Mica::Ptr<IeRemoteSvcResolverRequestSm> requestSm;
};

// Counts every notification of the chain's outputs, down to their innermost entities: the
// bindings, the status configuration (pair statuses, group statuses with their options, policy
// statuses with their entries), the reverse map (group entries with their policy sets), the
// exit-option statuses (entries, with their group sets and results) and the resolver requests.
// writes() counts all five; writes(kFirstThree) the three first, writes(kExitOutputs) the two
// last.
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

  enum Outputs { kFirstThree, kExitOutputs };

  // Every entity of the five outputs.
  void watchAll(const Chain& chain);
  // The five output roots and the entities of pair v: its status, its reverse-map entries and
  // its exit-option statuses. Counts every write that a change confined to pair v makes.
  void watchPair(const Chain& chain, Lane::VniAndLaneId v);

  uint64_t writes() const noexcept { return writes_[kFirstThree] + writes_[kExitOutputs]; }
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

  std::deque<Sub> subs_;
  const Mica::Entity* roots_[5] = {};
  uint64_t writes_[2] = {};
};

}  // namespace IeBench
