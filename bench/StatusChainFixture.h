// Fixtures of the status-chain benchmarks: lane bindings and an operator configuration of the
// standard shape, the chain IePolicyToVniLaneSm -> IeStatusConfigSm -> IeGroupToPolicySm over
// them on one scheduler, and a counter of every write to the chain's outputs.
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
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "Orb/OrbInternetExitStatusSm/IeGroupToPolicySm.h"
#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"
#include "Orb/OrbInternetExitStatusSm/IeStatusConfigSm.h"
#include "bench/BenchSupport.h"
#include "platform/agents/LaneStatusDir.h"

namespace IeBench {

using OrbInternetExit::ExitGroupToPolicy;
using OrbInternetExit::ExitKey;
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

// The dedicated policy and the group it lists at sequence number 10.
const Mica::String& dedicatedPolicy();
const Mica::String& dedicatedGroup();

// Lane status with pairs 0..n-1 (pairOf) bound in a seeded random order: k of them (every
// (n/k)-th) to dedicatedPolicy(), the others as laneStatusWith(n) binds them.
// REQUIRES: k <= n.
Mica::Ptr<Lane::LaneStatusDir> laneStatusWithDedicated(size_t n, size_t k);

// The configuration of the standard shape; with `dedicated`, also the dedicated policy.
Mica::Ptr<InternetExitCliConfig> standardConfig(bool dedicated);

// The three state machines over given lanes and configuration, on one scheduler with the default
// yield policy, and their outputs. Destruction stops the state machines and releases everything.
struct Chain {
  Chain(Mica::Ptr<Lane::LaneStatusDir> lanesIn, Mica::Ptr<InternetExitCliConfig> configIn);
  ~Chain() { stop(); }
  Chain(const Chain&) = delete;
  Chain& operator=(const Chain&) = delete;

  // Creates the three state machines in data-flow order; the scheduler runs them afterwards.
  void start();
  // Destroys them, last first (the outputs stay as they are).
  void stop();
  void startAndRun() {
    start();
    scheduler->runUntilIdle();
  }
  // Every state machine idle, and the outputs complete for `pairs` bound pairs of the standard
  // shape (one status per pair, kGroupsPerPolicy reverse-map entries per pair).
  bool idleAndComplete(size_t pairs) const;

  Mica::Ptr<Lane::LaneStatusDir> lanes;
  Mica::Ptr<InternetExitCliConfig> config;
  Mica::Ptr<IePolicyToVniLaneDir> bindings;
  Mica::Ptr<IeStatusConfigDir> status;
  Mica::Ptr<IeGroupToPolicyDir> groupToPolicy;
  Mica::Ptr<Keel::TaskScheduler> scheduler;
  Mica::Ptr<IePolicyToVniLaneSm> policySm;
  Mica::Ptr<IeStatusConfigSm> statusSm;
  Mica::Ptr<IeGroupToPolicySm> groupSm;
};

// Counts every notification of the chain's outputs, down to their innermost entities: the
// bindings, the status configuration (pair statuses, group statuses with their options, policy
// statuses with their entries) and the reverse map (group entries with their policy sets).
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

  // Every entity of the three outputs.
  void watchAll(const Chain& chain);
  // The three output roots and the entities of pair v: its status and its reverse-map entries.
  // Counts every write that a change confined to pair v makes.
  void watchPair(const Chain& chain, Lane::VniAndLaneId v);

  uint64_t writes() const noexcept { return writes_; }
  size_t watched() const noexcept { return subs_.size(); }

 private:
  using Created = void (*)(OutputWatch&, const Mica::Entity&, Mica::AttrId, const void* key);

  // Counts the notifications of one entity; `created` follows new child entities.
  class Sub final : public Mica::Subscriber {
   public:
    Sub(OutputWatch& watch, const Mica::Entity& entity, Created created)
        : watch_(watch), entity_(&entity), created_(created) {}
    void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override;
    const Mica::Entity& entity() const noexcept { return *entity_; }

   private:
    OutputWatch& watch_;
    Mica::Ptr<const Mica::Entity> entity_;
    Created created_;
  };

  void subscribe(const Mica::Entity& e, Created created);
  void root(const Mica::Entity& e, Created created);
  void tree(const IeStatusConfig& c);
  void tree(const PolicyStatusConfig& p);
  void tree(const ExitGroupToPolicy& g);
  static void statusDirCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key);
  static void statusCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId attr, const void* key);
  static void policyStatusCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key);
  static void groupMapCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key);

  std::deque<Sub> subs_;
  const Mica::Entity* roots_[3] = {};
  uint64_t writes_ = 0;
};

}  // namespace IeBench
