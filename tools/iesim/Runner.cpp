#include "tools/iesim/Runner.h"

#include <fmt/format.h>

#include <exception>
#include <vector>

#include "platform/mica/Assert.h"
#include "platform/mica/String.h"
#include "tools/iesim/ChromeTrace.h"
#include "tools/iesim/Expect.h"
#include "tools/iesim/World.h"

namespace IeSim {

namespace {

using Lane::VniAndLaneId;
using OrbInternetExit::PolicyVniLaneKey;
using Kind = iesim::pb::Step::KindCase;

// The loader has checked the ranges.
template <class M>
VniAndLaneId pairOf(const M& m) {
  return VniAndLaneId(Lane::VniId(m.vni()), static_cast<uint16_t>(m.lane()));
}

const char* kindName(const iesim::pb::Step& step) {
  switch (step.kind_case()) {
    case Kind::kBind: return "bind";
    case Kind::kUnbind: return "unbind";
    case Kind::kUnbindAll: return "unbind_all";
    case Kind::kRestart: return "restart";
    case Kind::kSetOutput: return "set_output";
    case Kind::kRun: return "run";
    case Kind::kExpect: return "expect";
    case Kind::KIND_NOT_SET: break;
  }
  return "comment";
}

std::string plural(size_t n, const char* what) {
  return fmt::format("{} {}{}", n, what, n == 1 ? "" : "s");
}

class Runner {
 public:
  Runner(const LoadedScenario& s, const RunOptions& options, Report& report)
      : s_(s), options_(options), report_(report), world_(options.defaultYield, options.chrome) {}

  ScenarioResult run() {
    if (options_.chrome != nullptr) {
      options_.chrome->scenarioIs(s_.scenario.name().empty() ? s_.file : s_.scenario.name());
    }
    report_.scenarioStarted(s_);
    bool going = guarded(0, s_.initial, "start", [&] { start(); });
    for (int i = 0; going && i < s_.scenario.step_size(); ++i) {
      const auto& step = s_.scenario.step(i);
      const size_t number = static_cast<size_t>(i) + 1;
      world_.stepIs(number);
      going = guarded(number, s_.steps[i], kindName(step), [&] { runStep(number, step); });
      result_.steps += going;
    }
    report_.pairTable(world_.lanes(), world_.output());
    if (options_.dump != nullptr) Report::dumpOutput(options_.dump, world_.output());
    report_.scenarioEnded(s_, result_.steps, result_.checks, result_.failures);
    return result_;
  }

 private:
  // Runs `body`; an assertion or error of the library fails the step and stops the scenario.
  template <class F>
  bool guarded(size_t number, Location at, const char* kind, F&& body) {
    try {
      body();
      return true;
    } catch (const Mica::AssertionError& e) {
      aborted(number, at, kind, fmt::format("assertion: {}", e.what()));
    } catch (const Quill::RangeError& e) {
      aborted(number, at, kind, fmt::format("range error: {}", e.what()));
    } catch (const std::exception& e) {
      aborted(number, at, kind, fmt::format("error: {}", e.what()));
    }
    return false;
  }

  void aborted(size_t number, Location at, const char* kind, const std::string& text) {
    fail(number, at, kind, text);
    report_.stepAborted(number, at, kind, text);
  }

  void fail(size_t number, Location at, const char* kind, const std::string& text) {
    ++result_.failures;
    const std::string step = number == 0 ? std::string("start")
                                         : fmt::format("step {} ({})", number, kind);
    fmt::print(stderr, "{}\n", locate(s_.file, at, fmt::format("{} failed: {}", step, text)));
  }

  void start() {
    const auto& initial = s_.scenario.initial();
    world_.countChangesIs(false);
    for (const auto& b : initial.binding()) world_.lanes().laneToIEMapIs(pairOf(b), b.policy());
    for (const auto& k : initial.output()) world_.output().polToVniLaneIs(checkedPolicyKey(k));
    world_.takeChanges();  // the start state is not a change
    world_.countChangesIs(true);

    StepRecord r;
    r.at = s_.initial;
    r.what = fmt::format("{}, {} in polToVniLane", plural(world_.lanes().laneToIEMap.size(), "binding"),
                         plural(world_.output().polToVniLane.size(), "key"));
    if (initial.deferred_start()) {
      r.notes.push_back("state machine not started (deferred)");
    } else {
      world_.startSm(initial.synchronous());
      r.notes.push_back(fmt::format("IePolicyToVniLaneSm created ({})",
                                    initial.synchronous() ? "synchronous"
                                                          : "yield " + world_.yieldText()));
    }
    finish(r);
  }

  void runStep(size_t number, const iesim::pb::Step& step) {
    StepRecord r;
    r.number = number;
    r.at = s_.steps[number - 1];
    r.why = step.why();
    switch (step.kind_case()) {
      case Kind::kBind: bind(step.bind(), r); break;
      case Kind::kUnbind: unbind(step.unbind(), r); break;
      case Kind::kUnbindAll: unbindAll(r); break;
      case Kind::kRestart: restart(step.restart(), r); break;
      case Kind::kSetOutput: setOutput(step.set_output(), r); break;
      case Kind::kRun: runScheduler(step.run(), r); break;
      case Kind::kExpect: expect(number, step.expect(), r); break;
      case Kind::KIND_NOT_SET: r.what = "comment"; break;
    }
    finish(r);
  }

  void bind(const iesim::pb::Binding& b, StepRecord& r) {
    const VniAndLaneId pair = pairOf(b);
    const auto old = world_.lanes().laneToIEMap.get(pair);
    const Mica::String policy(b.policy());
    r.what = fmt::format("bind {} to {} ({})", pair, policy,
                         !old ? std::string("new")
                         : *old == policy ? std::string("unchanged")
                                          : fmt::format("was {}", *old));
    world_.lanes().laneToIEMapIs(pair, policy);
  }

  void unbind(const iesim::pb::Unbind& u, StepRecord& r) {
    const VniAndLaneId pair = pairOf(u);
    const auto old = world_.lanes().laneToIEMap.get(pair);
    r.what = fmt::format("unbind {} ({})", pair,
                         old ? fmt::format("was {}", *old) : std::string("was not bound"));
    world_.lanes().laneToIEMapDel(pair);
  }

  void unbindAll(StepRecord& r) {
    std::vector<VniAndLaneId> pairs;
    for (const auto& [pair, policy] : world_.lanes().laneToIEMap) pairs.push_back(pair);
    r.what = fmt::format("unbind all ({})", plural(pairs.size(), "pair"));
    for (const auto pair : pairs) world_.lanes().laneToIEMapDel(pair);
  }

  void restart(const iesim::pb::Restart& restart, StepRecord& r) {
    const bool existed = world_.hasSm();
    world_.yieldIs(restart.has_yield() ? restart.yield() : options_.defaultYield);
    r.what = fmt::format("{} over polToVniLane ({}), {}",
                         existed ? "restart: IePolicyToVniLaneSm destroyed and created again"
                                 : "start: IePolicyToVniLaneSm created",
                         plural(world_.output().polToVniLane.size(), "key"),
                         restart.synchronous() ? "synchronous" : "yield " + world_.yieldText());
    world_.startSm(restart.synchronous());
    world_.restoreYield();
  }

  void setOutput(const iesim::pb::SetOutput& set, StepRecord& r) {
    auto& out = world_.output();
    std::vector<std::string> parts;
    world_.countChangesIs(false);
    if (set.clear()) {
      parts.push_back("clear");
      std::vector<PolicyVniLaneKey> keys(out.polToVniLane.begin(), out.polToVniLane.end());
      for (const auto& k : keys) out.polToVniLaneDel(k);
    }
    for (const auto& k : set.remove()) {
      parts.push_back("remove " + k);
      out.polToVniLaneDel(checkedPolicyKey(k));
    }
    for (const auto& k : set.add()) {
      parts.push_back("add " + k);
      out.polToVniLaneIs(checkedPolicyKey(k));
    }
    world_.countChangesIs(true);
    std::string what = "write polToVniLane directly:";
    for (size_t i = 0; i < parts.size(); ++i) what += (i == 0 ? " " : ", ") + parts[i];
    r.what = parts.empty() ? what + " nothing" : what;
  }

  void runScheduler(const iesim::pb::Run& run, StepRecord& r) {
    world_.yieldIs(run.has_yield() ? run.yield() : options_.defaultYield);
    const std::string policy = world_.yieldText();
    uint64_t runs = 0;
    if (run.has_max_runs()) {
      while (runs < static_cast<uint64_t>(run.max_runs()) && world_.scheduler().runOne()) ++runs;
    } else {
      runs = world_.scheduler().runUntilIdle();
    }
    world_.restoreYield();
    r.what = fmt::format("run the scheduler {}under {}: {}",
                         run.has_max_runs() ? fmt::format("for at most {} runs ", run.max_runs())
                                            : std::string("until idle "),
                         policy, plural(runs, "run"));
  }

  void expect(size_t number, const iesim::pb::Expect& e, StepRecord& r) {
    const Observed observed{world_.output(), world_.smReady(), world_.smIdle(),
                            world_.addedCount(), world_.removedCount()};
    ExpectOutcome outcome = checkExpect(e, observed);
    world_.resetCounts();
    r.expect = true;
    r.what = fmt::format("expect ({})", plural(outcome.passed.size() + outcome.failed.size(), "check"));
    for (const auto& failure : outcome.failed) fail(number, r.at, "expect", failure);
    result_.checks += outcome.passed.size();
    r.checks = std::move(outcome.passed);
    r.failed = std::move(outcome.failed);
  }

  void finish(StepRecord& r) {
    r.changes = world_.takeChanges();
    r.runs = world_.takeRuns();
    r.sm = world_.smState();
#ifndef NDEBUG
    world_.lanes().checkInvariants();
    world_.output().checkInvariants();
#endif
    report_.step(r);
  }

  const LoadedScenario& s_;
  const RunOptions& options_;
  Report& report_;
  World world_;
  ScenarioResult result_;
};

}  // namespace

ScenarioResult runScenario(const LoadedScenario& scenario, const RunOptions& options,
                           Report& report) {
  return Runner(scenario, options, report).run();
}

}  // namespace IeSim
