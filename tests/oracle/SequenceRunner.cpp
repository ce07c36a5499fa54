#include "tests/oracle/SequenceRunner.h"

#include <fmt/format.h>
#include <google/protobuf/text_format.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <set>

#include "tests/oracle/Compare.h"
#include "tests/oracle/Generators.h"
#include "tests/oracle/Reference.h"
#include "tests/oracle/WorldReader.h"
#include "tools/iesim/Keys.h"
#include "tools/iesim/Report.h"
#include "tools/iesim/Steps.h"
#include "tools/iesim/World.h"

namespace IeOracle {

namespace {

using iesim::pb::Step;
using Kind = Step::KindCase;
using OrbInternetExit::Component;

const char* const kCountedOutputs[] = {"polToVniLane", "statusConfig", "groupToPolicy", "vniDefRoute", "vniLaneDefRoute",
                                       "exitOption",   "resolverRequest", "exitGroup", "policyStatus", "svcInUse"};

bool isFullRun(const Step& s) { return s.kind_case() == Kind::kRun && !s.run().has_max_runs(); }

// Per interface, the gate the options' results hold and how many hold it.
std::map<std::string, std::pair<uint32_t, uint32_t>> gatesHeldByOptions(const Outputs& out, std::string& conflict) {
  std::map<std::string, std::pair<uint32_t, uint32_t>> held;
  for (const auto& [k, s] : out.exitOptions) {
    if (k.option.type != ExitType::local || s.result.gate == kNoGate) continue;
    auto [it, added] = held.try_emplace(s.result.intf, s.result.gate, 0);
    if (it->second.first != s.result.gate) {
      conflict = fmt::format("interface {} holds gates {} and {}", s.result.intf, it->second.first, s.result.gate);
    }
    ++it->second.second;
  }
  return held;
}

std::string gatesText(const std::map<std::string, std::pair<uint32_t, uint32_t>>& gates) {
  std::string out;
  for (const auto& [intf, g] : gates) out += fmt::format("{}{} gate {} users {}", out.empty() ? "" : ", ", intf, g.first, g.second);
  return out.empty() ? "none" : out;
}

class Runner {
 public:
  Runner(const Sequence& s, const RunSettings& settings) : s_(s), settings_(settings), world_("", nullptr) {}

  SequenceOutcome run() {
    if (!guarded("start", [&] { start(); })) return std::move(out_);
    for (size_t i = 0; i < s_.steps.size() && out_.failure.empty(); ++i) {
      const Step& step = s_.steps[i];
      if (settings_.domainOnly && !inDomain(step)) {
        ++out_.skipped;
        continue;
      }
      execute(step, i + 1 < s_.steps.size() && isFullRun(s_.steps[i + 1]));
    }
    // Every sequence ends in a quiescent point, then a restart of every pipeline state machine
    // that must write nothing.
    if (out_.failure.empty()) {
      Step run, restart;
      run.mutable_run();
      for (size_t c = 0; c < OrbInternetExit::kComponentCount; ++c) {
        const auto component = static_cast<Component>(c);
        if (component == Component::vniDefaultRoute || component == Component::vniLaneDefaultRoute) continue;
        restart.mutable_restart()->add_component(std::string(OrbInternetExit::componentName(component)));
      }
      if (execute(run, true) && execute(restart, true)) execute(run, false);
    }
    if (settings_.endState != nullptr) IeSim::Report::dump(settings_.endState, world_);
    return std::move(out_);
  }

 private:
  // Records `step` as executed and runs it, guarded.
  bool execute(const Step& step, bool nextIsFullRun) {
    out_.executed.push_back(step);
    return guarded(fmt::format("step {}", out_.executed.size()), [&] { runStep(step, nextIsFullRun); });
  }

  // Runs `body`; an assertion or error of the library (Mica::AssertionError, Quill::RangeError
  // and the rest derive from std::exception) fails the step that raised it.
  template <class F>
  bool guarded(const std::string& where, F&& body) {
    try {
      body();
    } catch (const std::exception& e) {
      out_.failure = fmt::format("{}: {}", where, e.what());
    }
    return out_.failure.empty();
  }

  void start() {
    const auto& initial = s_.initial;
    IeSim::StepRecord r;
    world_.countChangesIs(false);
    IeSim::loadLanes(world_, initial);
    IeSim::loadConfig(world_, initial.config());
    IeSim::loadEngine(world_, initial, r);
    IeSim::loadAgents(world_, initial, r);
    world_.takeChanges();
    world_.countChangesIs(true);
    world_.startSms(false);
    gatesExact_ = world_.dataPath().internetExit() != nullptr;
    starting_ = allComponents();
    finish();
  }

  static std::set<Component> allComponents() {
    std::set<Component> all;
    for (size_t c = 0; c < OrbInternetExit::kComponentCount; ++c) all.insert(static_cast<Component>(c));
    return all;
  }

  bool quiescent() const { return world_.smsReady() && world_.smsIdle(); }

  // Whether the step stays in the domain the reference covers, given the current inputs.
  bool inDomain(const Step& step) {
    auto& config = world_.config();
    const auto entriesOf = [&](const std::string& policy) {
      std::map<double, std::string> entries;
      if (const auto* p = config.policyConfig.lookup(Mica::String(policy))) {
        for (const auto& [seq, e] : p->exitGroup) entries[seq] = e->exitGroupName.get().str();
      }
      return entries;
    };
    // While the builder or the bindings start, the status configuration may hold entries of an
    // earlier run (or the bindings a stale key): changes of bindings and entries then reach
    // states that depend on where the scans stood.
    // And while IePolicyStatusSm starts, a pair's new policy may gain its interfaces before the
    // reconciliation deletes the old policy's status: when both hold one result, the data path
    // refuses the add as a repeat and then applies the delete, and the pair loses that exit.
    const bool entriesSettle = !starts(Component::statusConfig) && !starts(Component::policyToVniLane);
    switch (step.kind_case()) {
      case Kind::kBind:
      case Kind::kUnbind:
      case Kind::kUnbindAll: return entriesSettle && !starts(Component::policyStatus);
      case Kind::kRemoveEntry: return entriesSettle;
      case Kind::kConfigurePolicy:  // from no entries only: a change of several could name a group twice on the way
      case Kind::kRemovePolicy: {
        const auto& name = step.kind_case() == Kind::kConfigurePolicy ? step.configure_policy().name() : step.remove_policy().name();
        return entriesSettle && entriesOf(name).empty();
      }
      case Kind::kSetEntry: {
        for (const auto& [seq, group] : entriesOf(step.set_entry().policy())) {
          if (seq != step.set_entry().seq() && group == step.set_entry().group()) return false;
        }
        return entriesSettle;
      }
      case Kind::kModule: return world_.smsReady();
      default: return true;
    }
  }

  // Whether `c` was restarted and may not be ready yet.
  bool starts(Component c) {
    if (world_.smsReady()) starting_.clear();
    return starting_.contains(c);
  }

  void runStep(const Step& step, bool nextIsFullRun) {
    IeSim::StepRecord r;
    const bool wasQuiescent = quiescent() && inputsSettled_;
    switch (step.kind_case()) {
      case Kind::kRestart: restart(step.restart(), wasQuiescent && nextIsFullRun); break;
      case Kind::kRun: runScheduler(step.run()); break;
      default: {
        inputChanged(step);
        if (!IeSim::runLaneStep(world_, step, r) && !IeSim::runConfigStep(world_, step, r) &&
            !IeSim::runEngineStep(world_, step, r) && !IeSim::runDataPathStep(world_, step, r) &&
            !IeSim::runAgentStep(world_, step, r)) {
          throw std::logic_error("step kind without a handler");
        }
        if (step.kind_case() == Kind::kModule) moduleChanged();
      }
    }
    finish();
    if (isFullRun(step)) checkQuiescent();
  }

  // An input changes: state machines still starting may miss what it causes (by design, their
  // second pass finds the state, not the changes).
  void inputChanged(const Step& step) {
    inputsSettled_ = false;
    if (step.kind_case() == Kind::kModule) {
      // Gates of the options of the module that goes stay in their results; the new module's
      // gate manager knows only the gates it hands out from now on.
      const Outputs now = outputsOf(world_);
      std::string conflict;
      gatesExact_ = step.module().present() && gatesHeldByOptions(now, conflict).empty();
      return;
    }
    noteMissed();
    if (!world_.dataPath().internetExit()) notificationsExact_ = false;
  }

  void noteMissed() {
    if (world_.smsReady()) starting_.clear();
    if (starting_.contains(Component::programDp)) exitTableExact_ = notificationsExact_ = false;
    if (starting_.contains(Component::exitOptionStatus)) gatesExact_ = false;
  }

  // A new module has a new, empty data path, to which IeProgramDpSm (ready: a precondition of
  // module steps) sends every interface.
  void moduleChanged() { exitTableExact_ = true; }

  void restart(const iesim::pb::Restart& restart, bool quietCheck) {
    std::vector<Component> cs;
    for (const auto& name : restart.component()) cs.push_back(IeSim::checkedComponent(name));
    if (!restart.in_given_order()) std::sort(cs.begin(), cs.end());
    cs.erase(std::unique(cs.begin(), cs.end()), cs.end());
    if (cs.empty()) {
      const auto all = allComponents();
      cs.assign(all.begin(), all.end());
    }
    const auto has = [&](Component c) { return std::find(cs.begin(), cs.end(), c) != cs.end(); };
    const bool module = world_.dataPath().internetExit() != nullptr;
    quiet_.reset();
    if (quietCheck && !has(Component::vniDefaultRoute) && !has(Component::vniLaneDefaultRoute)) {
      world_.resetCounts();
      quiet_ = QuietRestart{outputsOf(world_), gatesOf(world_, kInterfaces), has(Component::programDp),
                            notificationsExact_ && module};
    }
    if (!quiescent()) {
      // Changes already under way reach a restarted machine while it starts.
      if (has(Component::programDp)) exitTableExact_ = notificationsExact_ = false;
      if (has(Component::exitOptionStatus)) gatesExact_ = false;
    }
    if (has(Component::programDp) && (quiescent() || !module)) {
      // Its reconciliation deletes the notifications it does not produce again: the stale ones,
      // and without a module every one (its filter drops every interface).
      notificationsExact_ = true;
    }
    world_.yieldIs(restart.has_yield() ? restart.yield() : std::string());
    if (restart.component_size() == 0) {
      world_.startSms(false);
    } else {
      world_.restartComponents(cs, false);
    }
    world_.restoreYield();
    starting_.insert(cs.begin(), cs.end());
  }

  void runScheduler(const iesim::pb::Run& run) {
    world_.yieldIs(run.has_yield() ? run.yield() : std::string());
    if (run.has_max_runs()) {
      for (int64_t n = 0; n < run.max_runs() && world_.scheduler().runOne(); ++n) {
      }
    } else {
      world_.scheduler().runUntilIdle();
    }
    world_.restoreYield();
  }

  // What Runner::finish does in iesim: apply the queued commands to the data path, drop the logs.
  void finish() {
    IeSim::StepRecord r;
    world_.takeChanges();
    IeSim::drainDataPath(world_, r);
    world_.takeGroupTouches();
    world_.takePolicyTouches();
    world_.takeRuns();
  }

  void checkQuiescent() {
    if (!quiescent()) {
      out_.failure = fmt::format("step {}: not ready and idle after running until idle: {}", out_.executed.size(), world_.smState());
      return;
    }
    starting_.clear();
    ++out_.quiescentChecks;
    const Inputs in = inputsOf(world_);
    const Outputs actual = outputsOf(world_);
    std::vector<std::string> problems = compareWithReference(
        in, actual, CompareOptions{.exactExitTable = exitTableExact_, .exactNotifications = notificationsExact_});
    std::string conflict;
    const auto held = gatesHeldByOptions(actual, conflict);
    if (gatesExact_ && in.internetExitModule) {
      if (!conflict.empty()) problems.push_back("gates: " + conflict);
      const auto manager = gatesOf(world_, kInterfaces);
      if (manager != held) {
        problems.push_back(fmt::format("gates: the module holds {}, the options {}", gatesText(manager), gatesText(held)));
      }
    }
    if (quiet_) checkQuietRestart(actual, problems);
    quiet_.reset();
    inputsSettled_ = true;
    if (!problems.empty()) {
      out_.failure = fmt::format("step {} (quiescent point): ", out_.executed.size());
      for (const auto& p : problems) out_.failure += "\n  " + p;
    }
  }

  void checkQuietRestart(const Outputs& actual, std::vector<std::string>& problems) {
    ++out_.quietRestarts;
    for (const char* output : kCountedOutputs) {
      // A restart of IeProgramDpSm removes the notifications it does not produce again: stale
      // ones, and without a module all of them (its filter drops every interface).
      if (std::string_view(output) == "svcInUse" && !quiet_->notificationsExact) continue;
      const auto& c = world_.counts(output);
      if (c.added + c.removed + c.changed != 0) {
        problems.push_back(fmt::format("restart over unchanged inputs wrote {}: {} added, {} removed, {} changed", output,
                                       c.added, c.removed, c.changed));
      }
    }
    const auto& commands = world_.counts("commands");
    if (commands.removed != 0 || (!quiet_->programDp && commands.added != 0)) {
      problems.push_back(fmt::format("restart over unchanged inputs sent {} adds and {} deletes", commands.added, commands.removed));
    }
    if (gatesOf(world_, kInterfaces) != quiet_->gates) {
      problems.push_back(fmt::format("restart over unchanged inputs moved gates: {} before, {} after", gatesText(quiet_->gates),
                                     gatesText(gatesOf(world_, kInterfaces))));
    }
    if (actual.exitTable != quiet_->before.exitTable) {
      problems.push_back("restart over unchanged inputs changed the exit table: " +
                         diff(quiet_->before.exitTable ? facts(*quiet_->before.exitTable) : Facts{},
                              actual.exitTable ? facts(*actual.exitTable) : Facts{}));
    }
  }

  struct QuietRestart {
    Outputs before;
    std::map<std::string, std::pair<uint32_t, uint32_t>> gates;
    bool programDp = false;
    bool notificationsExact = true;
  };

  const Sequence& s_;
  const RunSettings& settings_;
  IeSim::World world_;
  SequenceOutcome out_;
  std::set<Component> starting_;   // restarted since the last quiescent point
  bool inputsSettled_ = false;     // no input changed since the last quiescent point
  bool exitTableExact_ = true;
  bool gatesExact_ = true;
  bool notificationsExact_ = true;
  std::optional<QuietRestart> quiet_;
};

}  // namespace

SequenceOutcome runSequence(const Sequence& sequence, const RunSettings& settings) { return Runner(sequence, settings).run(); }

iesim::pb::Scenario scenarioOf(const Sequence& sequence, const SequenceOutcome& outcome) {
  iesim::pb::Scenario scenario;
  scenario.set_name("oracle");
  scenario.set_description(outcome.failure.empty() ? std::string("a generated sequence")
                                                   : "the library differs from the reference: " + outcome.failure);
  *scenario.mutable_initial() = sequence.initial;
  for (const auto& step : outcome.executed) *scenario.add_step() = step;
  return scenario;
}

std::string scenarioText(const iesim::pb::Scenario& scenario) {
  std::string text;
  google::protobuf::TextFormat::PrintToString(scenario, &text);
  return text;
}

}  // namespace IeOracle
