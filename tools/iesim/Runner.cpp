#include "tools/iesim/Runner.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/mica/Assert.h"
#include "platform/mica/String.h"
#include "tools/iesim/ChromeTrace.h"
#include "tools/iesim/Expect.h"
#include "tools/iesim/Explain.h"
#include "tools/iesim/Keys.h"
#include "tools/iesim/Outputs.h"
#include "tools/iesim/Steps.h"
#include "tools/iesim/World.h"

namespace IeSim {

namespace {

using Kind = iesim::pb::Step::KindCase;

// The step's kind as written in the file ("bind", "configure_policy"), or "comment".
std::string kindName(const iesim::pb::Step& step) {
  const auto* field = iesim::pb::Step::descriptor()->FindFieldByNumber(step.kind_case());
  return field == nullptr ? std::string("comment") : field->name();
}

class Runner {
 public:
  Runner(const LoadedScenario& s, const RunOptions& options, Report& report)
      : Runner(nullptr, &s, options, report) {}
  // Owns the scenario, and releases its start state once written.
  Runner(LoadedScenario&& s, const RunOptions& options, Report& report)
      : Runner(std::make_unique<LoadedScenario>(std::move(s)), nullptr, options, report) {}

  ScenarioResult run() {
    const RunClock runClock;
    if (options_.chrome != nullptr) {
      options_.chrome->scenarioIs(s_.scenario.name().empty() ? s_.file : s_.scenario.name());
    }
    toReport([&] {
      report_.scenarioStarted(s_);
      if (options_.explainer != nullptr) options_.explainer->scenarioStarted(s_);
    });
    const bool tracesLater = options_.traceFromStep > 0 && options_.tracesOn;
    if (tracesLater) options_.tracesOn(false);
    stepClock_ = RunClock();
    bool going = guarded(0, s_.initial, "start", [&] { start(); });
    for (int i = 0; going && i < s_.scenario.step_size(); ++i) {
      const auto& step = s_.scenario.step(i);
      const size_t number = static_cast<size_t>(i) + 1;
      world_.stepIs(number);
      if (tracesLater && number == options_.traceFromStep) options_.tracesOn(true);
      stepClock_ = RunClock();
      going = guarded(number, s_.steps[i], kindName(step), [&] { runStep(number, step); });
      result_.steps += going;
    }
    toReport([&] { report_.endState(world_); });
    if (options_.dump != nullptr) {
      errno = 0;
      outputs_.guard(kDumpOutput, [&] { Report::dump(options_.dump, world_); });
      outputs_.checkWritten(kDumpOutput, options_.dump);
    }
    toReport([&] {
      if (options_.explainer != nullptr) options_.explainer->scenarioEnded(world_);
      report_.scenarioEnded(s_, result_.steps, result_.checks, result_.failures, runClock.elapsed());
    });
    return result_;
  }

 private:
  // Over the scenario it owns, when `owned` is set, else over `given`.
  Runner(std::unique_ptr<LoadedScenario> owned, const LoadedScenario* given, const RunOptions& options,
         Report& report)
      : owned_(std::move(owned)),
        s_(owned_ ? *owned_ : *given),
        options_(options),
        report_(report),
        outputs_(options.outputs != nullptr ? *options.outputs : dropped_),
        world_(options.defaultYield, options.chrome) {}

  // Runs `body`; an assertion or error of the library fails the step and stops the scenario.
  template <class F>
  bool guarded(size_t number, Location at, const std::string& kind, F&& body) {
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

  void aborted(size_t number, Location at, const std::string& kind, const std::string& text) {
    fail(number, at, kind, text);
    toReport([&] { report_.stepAborted(number, at, kind, text); });
  }

  void fail(size_t number, Location at, const std::string& kind, const std::string& text) {
    ++result_.failures;
    const std::string step = number == 0 ? std::string("start")
                                         : fmt::format("step {} ({})", number, kind);
    outputs_.guard(kFailureOutput, [&] {
      fmt::print(stderr, "{}\n", locate(s_.file, at, fmt::format("{} failed: {}", step, text)));
    });
  }

  void start() {
    const auto& initial = s_.scenario.initial();
    StepRecord r;
    r.at = s_.initial;
    world_.countChangesIs(false);
    loadLanes(world_, initial);
    loadConfig(world_, initial.config());
    loadEngine(world_, initial, r);
    loadAgents(world_, initial, r);
    world_.takeChanges();  // the start state is not a change
    world_.countChangesIs(true);

    const auto& csd = world_.orbcsd();
    r.what = fmt::format(
        "{}, {} in polToVniLane; {}, {}; {}, {}, {}",
        plural(world_.lanes().laneToIEMap.size(), "binding"),
        plural(world_.output().polToVniLane.size(), "key"),
        plural(world_.config().policyConfig.size(), "policy", "policies"),
        plural(world_.config().exitGroupConfig.size(), "group"),
        plural(csd.vxlanInfo.get() ? csd.vxlanInfo.get()->vrfIdToVniMap.size() : 0, "VRF binding"),
        plural(csd.defaultRoutePresentInVrf.size(), "default route"),
        plural(csd.l3Intf.size(), "interface"));
    if (initial.deferred_start()) {
      r.notes.push_back("state machines not started (deferred)");
    } else {
      world_.startSms(initial.synchronous());
      r.notes.push_back(fmt::format("state machines created ({})",
                                    initial.synchronous() ? "synchronous" : "yield " + world_.yieldText()));
    }
    // Nothing reads the start state again; a million bindings are a tenth of a run's memory,
    // which the bring-up can use instead.
    if (owned_) owned_->scenario.clear_initial();
    finish(r);
  }

  void runStep(size_t number, const iesim::pb::Step& step) {
    StepRecord r;
    r.number = number;
    r.at = s_.steps[number - 1];
    r.why = step.why();
    switch (step.kind_case()) {
      case Kind::kRestart: restart(step.restart(), r); break;
      case Kind::kStop: stop(step.stop(), r); break;
      case Kind::kRun: runScheduler(step.run(), r); break;
      case Kind::kExpect: expect(number, step.expect(), r); break;
      case Kind::KIND_NOT_SET: r.what = "comment"; break;
      default:
        if (!runLaneStep(world_, step, r) && !runConfigStep(world_, step, r) &&
            !runEngineStep(world_, step, r) && !runDataPathStep(world_, step, r) &&
            !runAgentStep(world_, step, r)) {
          throw std::logic_error(fmt::format("step kind {} has no handler", kindName(step)));
        }
        break;
    }
    finish(r);
  }

  // "polToVniLane (3 keys), statusConfig (2 pairs), ..., policyStatus (2 policies)".
  std::string outputsText() {
    return fmt::format("polToVniLane ({}), statusConfig ({}), groupToPolicy ({}), exitOption ({}), "
                       "exitGroup ({}), policyStatus ({})",
                       plural(world_.output().polToVniLane.size(), "key"),
                       plural(world_.statusConfig().statusConfig.size(), "pair"),
                       plural(world_.groupToPolicy().groupToPolicy.size(), "group"),
                       plural(world_.exitOptions().exitOptionStatus.size(), "option"),
                       plural(world_.exitGroups().exitGroupStatus.size(), "group"),
                       plural(world_.policies().policyStatus.size(), "policy", "policies"));
  }

  // The components a restart or stop names; all when it names none.
  template <class Field>
  static std::vector<OrbInternetExit::Component> componentsOf(const Field& names) {
    std::vector<OrbInternetExit::Component> cs;
    for (const auto& name : names) cs.push_back(checkedComponent(name));
    return cs;
  }

  static std::string namesText(std::span<const OrbInternetExit::Component> cs) {
    std::string out;
    for (const auto c : cs) out += fmt::format("{}{}", out.empty() ? "" : ", ", OrbInternetExit::componentName(c));
    return out;
  }

  void restart(const iesim::pb::Restart& restart, StepRecord& r) {
    const bool existed = world_.hasSms();
    world_.yieldIs(restart.has_yield() ? restart.yield() : options_.defaultYield);
    const std::string mode = restart.synchronous() ? "synchronous" : "yield " + world_.yieldText();
    if (restart.component_size() == 0) {
      r.what = fmt::format("{} over {}, {}",
                           existed ? "restart: the state machines destroyed and created again"
                                   : "start: the state machines created",
                           outputsText(), mode);
      world_.startSms(restart.synchronous());
    } else {
      auto cs = componentsOf(restart.component());
      if (!restart.in_given_order()) std::sort(cs.begin(), cs.end());
      cs.erase(std::unique(cs.begin(), cs.end()), cs.end());
      r.what = fmt::format("restart of {} over {}, {}", namesText(cs), outputsText(), mode);
      world_.restartComponents(cs, restart.synchronous());
    }
    world_.restoreYield();
  }

  void stop(const iesim::pb::Stop& stop, StepRecord& r) {
    if (!world_.hasSms()) {
      r.what = "stop: no state machine";
    } else if (stop.component_size() == 0) {
      r.what = "stop: the state machines destroyed; " + outputsText() + " stay";
      world_.stopSms();
    } else {
      const auto cs = componentsOf(stop.component());
      r.what = fmt::format("stop: {} destroyed; their outputs stay", namesText(cs));
      world_.stopComponents(cs);
    }
  }

  void runScheduler(const iesim::pb::Run& run, StepRecord& r) {
    world_.yieldIs(run.has_yield() ? run.yield() : options_.defaultYield);
    const std::string policy = world_.yieldText();
    uint64_t runs = 0;
    // The data path applies what each run queued, as a module's would, rather than holding a
    // bring-up's million commands until the step ends.
    const uint64_t most = run.has_max_runs() ? static_cast<uint64_t>(run.max_runs()) : UINT64_MAX;
    while (runs < most && world_.scheduler().runOne()) {
      ++runs;
      world_.dataPath().applyPending();
    }
    world_.restoreYield();
    r.what = fmt::format("run the scheduler {}under {}: {}",
                         run.has_max_runs() ? fmt::format("for at most {} runs ", run.max_runs())
                                            : std::string("until idle "),
                         policy, plural(runs, "run"));
  }

  void expect(size_t number, const iesim::pb::Expect& e, StepRecord& r) {
    ExpectOutcome outcome = checkExpect(e, world_);
    world_.resetCounts();
    r.expect = true;
    r.what = fmt::format("expect ({})", plural(outcome.passed.size() + outcome.failed.size(), "check"));
    // Each failure points at its own expectation's line, the step's when that is unknown.
    const auto& places = s_.expectations[number - 1];
    for (size_t i = 0; i < outcome.failed.size(); ++i) {
      const auto place = places.find(outcome.failedField[i]);
      const Location at = place == places.end() ? r.at : place->second;
      fail(number, at, "expect", outcome.failed[i]);
      r.failed.push_back(fmt::format("line {}: {}", at.line, outcome.failed[i]));
    }
    result_.checks += outcome.passed.size();
    r.checks = std::move(outcome.passed);
  }

  void finish(StepRecord& r) {
    r.changes = world_.takeChanges();
    const auto pairs = drainDataPath(world_, r);
    const auto groups = world_.takeGroupTouches();
    const auto policies = world_.takePolicyTouches();
    if (!r.direct) {
      CauseFilter keep{kChangesShown, {}};
      if (options_.explainer != nullptr) {
        keep.about = [&](Lane::VniAndLaneId pair) { return options_.explainer->follows(pair); };
      }
      auto causes = causeLines(world_, groups, policies, pairs, keep);
      for (auto& cause : causes.lines) {
        r.causes.push_back(std::move(cause.text));
        r.causePairs.push_back(cause.pair);
      }
      r.causeCount = causes.count;
    }
    r.runs = world_.takeRuns();
    r.sm = world_.smState();
    r.elapsed = stepClock_.elapsed();
#ifndef NDEBUG
    world_.checkInvariants();
#endif
    toReport([&] {
      report_.step(r);
      if (options_.explainer != nullptr) options_.explainer->stepDone(world_, r);
    });
  }

  // A report that cannot be written is the output's failure, not the step's.
  template <class F>
  void toReport(F&& write) {
    outputs_.guard(kReportOutput, std::forward<F>(write));
  }

  std::unique_ptr<LoadedScenario> owned_;  // when the runner owns its scenario
  const LoadedScenario& s_;
  const RunOptions& options_;
  Report& report_;
  Outputs dropped_;
  Outputs& outputs_;
  World world_;
  ScenarioResult result_;
  RunClock stepClock_;  // since the start of the current step
};

}  // namespace

ScenarioResult runScenario(const LoadedScenario& scenario, const RunOptions& options,
                           Report& report) {
  return Runner(scenario, options, report).run();
}

ScenarioResult runScenario(LoadedScenario&& scenario, const RunOptions& options, Report& report) {
  if (!options.exitsAfter) return Runner(std::move(scenario), options, report).run();
  // Never destroyed; a static keeps it reachable, so that a leak checker does not count it.
  static Runner* leftToExit = nullptr;
  leftToExit = new Runner(std::move(scenario), options, report);
  return leftToExit->run();
}

}  // namespace IeSim
