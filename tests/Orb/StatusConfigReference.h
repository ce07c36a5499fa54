// The status configuration in a plain form, for tests.
//
// extractOf(dir) reads an IeStatusConfigDir into one plain value, so that tests compare whole
// outputs; describe() prints it one fact per line, so a mismatch reads as a diff.
// Agent runs one status configuration builder over its own inputs and scheduler.
#pragma once

#include <fmt/format.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "Orb/OrbInternetExitStatusSm/IeStatusConfigSm.h"
#include "tests/support/SmTestSupport.h"
#include "tests/support/TraceLevels.h"
#include "types/IePolicyToVniLaneDir.h"
#include "types/IeStatusConfigDir.h"
#include "types/InternetExitCliConfig.h"

namespace OrbInternetExit::Reference {

struct PairConfig {
  std::set<PolicyVniLaneKey> policies;  // policy status configurations present
  std::map<std::pair<PolicyVniLaneKey, double>, GroupVniLaneKey> entries;
  std::map<GroupVniLaneKey, std::set<ExitVniLaneKey>> groups;
  friend bool operator==(const PairConfig&, const PairConfig&) = default;
};

using StatusConfig = std::map<VniAndLaneId, PairConfig>;

// The local exit option named `name`.
inline ExitKey local(const char* name) { return ExitKey(name, ExitType::localExit()); }

inline StatusConfig extractOf(const IeStatusConfigDir& dir) {
  StatusConfig out;
  for (const auto& [v, statusCfg] : dir.statusConfig) {
    PairConfig& pair = out[v];
    for (const auto& [polKey, policy] : statusCfg->policyStatusConfig) {
      pair.policies.insert(polKey);
      for (const auto& [seqNo, entry] : policy->exitGroup) pair.entries[{polKey, seqNo}] = entry->exitGroup.get();
    }
    for (const auto& [grpKey, group] : statusCfg->exitGroupStatusConfig) {
      auto& options = pair.groups[grpKey];
      for (const ExitVniLaneKey& k : group->exitOption) options.insert(k);
    }
  }
  return out;
}

inline std::string describe(const StatusConfig& cfg) {
  std::string out;
  for (const auto& [v, pair] : cfg) {
    out += fmt::format("pair {}\n", v);
    for (const auto& p : pair.policies) out += fmt::format("  policy {}\n", p);
    for (const auto& [key, g] : pair.entries) out += fmt::format("  entry {} {} -> {}\n", key.first, key.second, g);
    for (const auto& [g, options] : pair.groups) {
      out += fmt::format("  group {}\n", g);
      for (const auto& k : options) out += fmt::format("    option {}\n", k);
    }
  }
  return out;
}

// One agent: the inputs, the output and a builder run by its own scheduler, tracing to its own
// handler with `levels` (levels 6 and 9 on make the builder walk whole collections instead of
// its indexes). Agents driven by the same steps compare schedules and walks.
class Agent {
 public:
  Agent(IeTest::Mode mode, const char* traceName, uint32_t levels)
      : levels_(traceName, levels),
        scheduler_(new Keel::TaskScheduler()),
        control_(IeTest::controlFor(mode, scheduler_, 20261206)) {
    control_.debugTraceName = traceName;
  }
  Agent(std::unique_ptr<Keel::YieldPolicy> policy, const char* traceName, uint32_t levels)
      : Agent(IeTest::Mode::neverYield, traceName, levels) {
    scheduler_->yieldPolicyIs(std::move(policy));
  }
  ~Agent() { scheduler_->runObserverIs(nullptr); }
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;

  void runObserverIs(Keel::TaskRunObserver* observer) { scheduler_->runObserverIs(observer); }
  void start() { sm = ieStatusConfigSmFactory(config, bindings, dir, control_); }
  void stop() { sm = nullptr; }
  void runOne() { scheduler_->runOne(); }
  void runUntilIdle() { scheduler_->runUntilIdle(); }
  std::string output() const { return describe(extractOf(*dir)); }

  Mica::Ptr<InternetExitCliConfig> config{new InternetExitCliConfig()};
  Mica::Ptr<IePolicyToVniLaneDir> bindings{new IePolicyToVniLaneDir()};
  Mica::Ptr<IeStatusConfigDir> dir{new IeStatusConfigDir()};
  Mica::Ptr<IeStatusConfigSm> sm;

 private:
  IeTest::TraceLevels levels_;
  Mica::Ptr<Keel::TaskScheduler> scheduler_;
  Flo::SmControl control_;
};

}  // namespace OrbInternetExit::Reference
