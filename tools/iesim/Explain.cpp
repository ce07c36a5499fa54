#include "tools/iesim/Explain.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>

#include "Orb/OrbSiEdgeModule.h"
#include "tools/iesim/DataPath.h"
#include "tools/iesim/Keys.h"
#include "tools/iesim/OptionReason.h"

namespace IeSim {

namespace {

using OrbInternetExit::ExitIntfResult;
using OrbInternetExit::ExitResultType;
using OrbInternetExit::GroupVniLaneKey;
using OrbInternetExit::PolicyStatusConfig;
using OrbInternetExit::PolicyVniLaneKey;
using ExitEntry = Orb::DataPathModel::ExitEntry;

// Same label width as the step report, so that both read alike.
constexpr int kLabelWidth = 16;

class Lines {
 public:
  void add(std::string_view label, std::string_view text) {
    lines_.push_back(fmt::format("  {:<{}} {}", label, kLabelWidth, text));
  }
  // A detail under the line before it.
  void detail(std::string_view text) { add("", fmt::format("  {}", text)); }
  std::vector<std::string> take() { return std::move(lines_); }

 private:
  std::vector<std::string> lines_;
};

template <class Range, class Text>
std::string joined(const Range& range, Text text) {
  std::string out;
  for (const auto& e : range) out += (out.empty() ? "" : ", ") + text(e);
  return out.empty() ? std::string("(none)") : out;
}

bool knows(const World& world, Lane::VniAndLaneId pair) {
  if (world.lanes().laneToIEMap.contains(pair) || world.statusConfig().statusConfig.contains(pair)) return true;
  for (const auto& k : world.output().polToVniLane) {
    if (k.vniLaneId == pair) return true;
  }
  for (const auto& [k, status] : world.policies().policyStatus) {
    if (k.vniLaneId == pair) return true;
  }
  const auto* model = world.dataPath().model();
  return model != nullptr && !model->exitsOf(pair).empty();
}

// What one exit group of a policy shows: up or down as its options' inputs make it (and as the
// library has it), and per option its result and the reason of it.
struct GroupView {
  bool up = false;
  std::string whyDown;  // when down
  std::string state;    // "up", "down, no usable option", with a mismatch when the library differs
  std::vector<std::string> options;
};

GroupView viewGroup(const World& world, const GroupVniLaneKey& g) {
  GroupView v;
  const auto* cfg = world.statusConfig().statusConfig.lookup(g.vniLaneId);
  const auto* groupCfg = cfg == nullptr ? nullptr : cfg->exitGroupStatusConfig.lookup(g);
  const auto* groupStatus = world.exitGroups().exitGroupStatus.lookup(g);
  const bool libraryUp = groupStatus != nullptr && groupStatus->result.size() != 0;
  if (groupCfg == nullptr) {
    v.whyDown = fmt::format("no exit group \"{}\" is configured", g.groupName);
  } else if (groupCfg->exitOption.size() == 0) {
    v.whyDown = "it has no option";
  } else {
    for (const auto& option : groupCfg->exitOption) {
      const auto verdict = deriveOption(world, option);
      const std::string name = fmt::format("{}", option.exitKey);
      const auto* status = world.exitOptions().exitOptionStatus.lookup(option);
      if (status == nullptr) {
        v.options.push_back(fmt::format("{:<18} no exit-option status yet; the inputs: {}", name, verdict.reason));
        continue;
      }
      const auto& result = status->resultExitIntf.get();
      const bool member = status->group.contains(g);
      v.options.push_back(fmt::format("{:<18} {}: {}{}", name, resultText(result), verdict.reason,
                                      member ? "" : " (its status does not list the group yet)"));
      if (const std::string m = mismatchText(verdict, result); !m.empty()) v.options.push_back("  " + m);
      // The group holds exactly the usable results of the options that list it.
      const bool counts = member && result.resultType != ExitResultType::noResult();
      const bool held = groupStatus != nullptr && groupStatus->result.contains(option);
      if (counts != held) {
        v.options.push_back(fmt::format("  MISMATCH: the group's results {} it", held ? "hold" : "lack"));
      }
      v.up = v.up || (member && verdict.usable);
    }
    if (!v.up) v.whyDown = groupCfg->exitOption.size() == 1 ? "its option is not usable" : "no option is usable";
  }
  v.state = v.up ? "up" : "down, " + v.whyDown;
  if (v.up != libraryUp) v.state += fmt::format(" (MISMATCH: the library has it {})", libraryUp ? "up" : "down");
  return v;
}

// The entries the data path should hold for `results`, as the module sends them.
std::vector<ExitEntry> entriesOf(Lane::VniAndLaneId pair, const std::vector<ExitIntfResult>& results) {
  std::vector<ExitEntry> entries;
  for (const auto& r : results) {
    entries.push_back(ExitEntry{pair, static_cast<uint32_t>(Orb::ieGetPbResultType(r.resultType)), r.gateId,
                                r.intfId.value(), r.auxId});
  }
  std::sort(entries.begin(), entries.end());
  entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
  return entries;
}

// One policy of the pair: its entries by sequence number, each group with its options, the
// winner and why the groups before it lost, and its exit interfaces. Adds the interfaces the
// policy should have to `interfaces`.
void explainPolicy(const World& world, const PolicyStatusConfig& policy, Lines& out,
                   std::vector<ExitIntfResult>& interfaces) {
  const PolicyVniLaneKey& key = policy.policyKey();
  const auto* status = world.policies().policyStatus.lookup(key);
  out.add("policy", fmt::format("{} {}", key,
                                status == nullptr ? std::string("has no status (no group is up)")
                                                  : fmt::format("wins {}", status->winningExitGroup.get().groupName)));
  std::optional<GroupVniLaneKey> winner;
  std::string losers;
  for (const auto& [seq, entry] : policy.exitGroup) {
    const GroupVniLaneKey g = entry->exitGroup.get();
    const GroupView v = viewGroup(world, g);
    const bool wins = !winner && v.up;
    out.add(fmt::format("seq {}", seqText(seq)), fmt::format("{}: {}{}", g.groupName, v.state, wins ? ", wins" : ""));
    for (const auto& line : v.options) out.detail(line);
    if (wins) {
      winner = g;
    } else if (!winner) {
      losers += fmt::format("{}{} (seq {}) is down: {}", losers.empty() ? "" : "; ", g.groupName, seqText(seq),
                            v.whyDown);
    }
  }
  const GroupVniLaneKey libraryWinner = status == nullptr ? GroupVniLaneKey() : status->winningExitGroup.get();
  std::string winnerText = winner ? fmt::format("{}, the first group that is up", winner->groupName)
                                  : std::string("none: no group is up");
  if (winner && !losers.empty()) winnerText += "; " + losers;
  if (winner.value_or(GroupVniLaneKey()) != libraryWinner) {
    winnerText += fmt::format(" (MISMATCH: the library has {})",
                              status == nullptr ? std::string("no status") : libraryWinner.groupName.str());
  }
  out.add("winner", winnerText);

  // The policy's interfaces are the distinct results of its winning group.
  std::vector<ExitIntfResult> expected;
  if (const auto* groupStatus = winner ? world.exitGroups().exitGroupStatus.lookup(*winner) : nullptr) {
    for (const auto& [option, r] : groupStatus->result) {
      if (std::find(expected.begin(), expected.end(), r) == expected.end()) expected.push_back(r);
    }
  }
  std::vector<ExitIntfResult> actual;
  if (status != nullptr) actual.assign(status->exitIntf.begin(), status->exitIntf.end());
  out.add("exit interfaces", joined(actual, [](const ExitIntfResult& r) { return resultText(r); }));
  std::sort(expected.begin(), expected.end());
  if (expected != actual) {
    out.detail(fmt::format("MISMATCH: the winning group's results are {}",
                           joined(expected, [](const ExitIntfResult& r) { return resultText(r); })));
  }
  interfaces.insert(interfaces.end(), actual.begin(), actual.end());
}

void explainDataPath(const World& world, Lane::VniAndLaneId pair, const std::vector<ExitIntfResult>& interfaces,
                     Lines& out) {
  const auto* model = world.dataPath().model();
  if (model == nullptr) {
    out.add("data path", "no module: nothing is programmed");
    return;
  }
  const auto held = model->exitsOf(pair);
  const auto text = [](const ExitEntry& e) {
    const std::string full = exitEntryText(e);
    return full.substr(full.find(' ') + 1);  // without the pair, which the explanation is about
  };
  if (held.empty()) out.add("data path", "(no entry)");
  for (size_t i = 0; i < held.size(); ++i) out.add(i == 0 ? "data path" : "", text(held[i]));
  if (world.dataPath().internetExit() == nullptr) {
    out.detail("the module is no InternetExit module: it is sent nothing");
    return;
  }
  if (const auto expected = entriesOf(pair, interfaces); expected != held) {
    out.detail(fmt::format("MISMATCH: the policy's interfaces call for {}", joined(expected, text)));
  }
}

// The pair's in-use notifications: one per remote service group its policies' interfaces use.
void explainInUse(const World& world, Lane::VniAndLaneId pair, const std::vector<ExitIntfResult>& interfaces,
                  Lines& out) {
  std::vector<LaneSvcRemoteGroup> held, expected;
  for (const auto& k : world.notifications().svcNotification) {
    if (k.vniLaneId == pair) held.push_back(k);
  }
  for (const auto& r : interfaces) {
    if (r.resultType != ExitResultType::remoteResolved()) continue;
    const LaneSvcRemoteGroup k(pair, static_cast<uint16_t>(r.auxId));
    if (std::find(expected.begin(), expected.end(), k) == expected.end()) expected.push_back(k);
  }
  std::sort(expected.begin(), expected.end());
  const auto text = [](const LaneSvcRemoteGroup& k) { return fmt::format("{}", k); };
  out.add("in use", joined(held, text));
  if (held != expected) out.detail(fmt::format("MISMATCH: the policy's remote interfaces call for {}", joined(expected, text)));
}

}  // namespace

std::optional<ExplainRequest> parseExplainRequest(std::string_view text, std::string* error) {
  ExplainRequest q;
  q.text = std::string(text);
  std::string_view pairText = text;
  if (const size_t at = text.find('@'); at != std::string_view::npos) {
    pairText = text.substr(0, at);
    const std::string_view stepText = text.substr(at + 1);
    size_t step = 0;
    const auto [end, ec] = std::from_chars(stepText.data(), stepText.data() + stepText.size(), step);
    if (stepText.empty() || ec != std::errc() || end != stepText.data() + stepText.size()) {
      *error = fmt::format("step \"{}\" in \"{}\" is not a step number: expected VNI.LANE or VNI.LANE@STEP, "
                           "e.g. 10.1@2",
                           stepText, text);
      return std::nullopt;
    }
    q.step = step;
  }
  const auto pair = parsePair(pairText, error);
  if (!pair) return std::nullopt;
  q.pair = *pair;
  return q;
}

std::vector<std::string> explainPair(const World& world, Lane::VniAndLaneId pair, const PairChange* last) {
  if (!knows(world, pair)) return {};
  Lines out;
  const auto* bound = world.lanes().laneToIEMap.lookup(pair);
  std::vector<std::string> keys;
  for (const auto& k : world.output().polToVniLane) {
    if (k.vniLaneId == pair) keys.push_back(fmt::format("{}", k));
  }
  out.add("binding", fmt::format("{}; polToVniLane {}",
                                 bound == nullptr ? std::string("no policy") : fmt::format("policy {}", *bound),
                                 joined(keys, [](const std::string& s) { return s; })));
  std::vector<ExitIntfResult> interfaces;
  const auto* cfg = world.statusConfig().statusConfig.lookup(pair);
  if (cfg == nullptr) {
    out.add("policy", "no status configuration for the pair");
  } else if (cfg->policyStatusConfig.size() == 0) {
    out.add("policy", "the pair's policy is not configured");
  }
  if (cfg != nullptr) {
    for (const auto& [key, policy] : cfg->policyStatusConfig) explainPolicy(world, *policy, out, interfaces);
  }
  // Statuses that no status configuration explains: left from an earlier run or configuration.
  for (const auto& [key, status] : world.policies().policyStatus) {
    if (key.vniLaneId != pair || (cfg != nullptr && cfg->policyStatusConfig.contains(key))) continue;
    out.add("policy", fmt::format("{} wins {} without a status configuration (MISMATCH: nothing computes it)",
                                  key, status->winningExitGroup.get().groupName));
    interfaces.insert(interfaces.end(), status->exitIntf.begin(), status->exitIntf.end());
  }
  explainDataPath(world, pair, interfaces, out);
  explainInUse(world, pair, interfaces, out);
  if (last != nullptr) {
    out.add("last change", last->number == 0 ? fmt::format("start: {}", last->what)
                                             : fmt::format("step {} (line {}): {}", last->number, last->at.line, last->what));
    for (const auto& cause : last->causes) out.detail(cause);
  }
  if (!world.smsReady() || !world.smsIdle()) {
    out.add("note", fmt::format("state machines: {}; the outputs may not follow their inputs yet", world.smState()));
  }
  return out.take();
}

void Explainer::scenarioStarted(const LoadedScenario& s) {
  scenario_ = s.scenario.name().empty() ? s.file : s.scenario.name();
  stepsInScenario_ = static_cast<size_t>(s.scenario.step_size());
  lastStepDone_ = 0;
  started_ = false;
  lastChange_.assign(requests_.size(), std::nullopt);
  for (const auto& q : requests_) {
    if (q.step && *q.step > stepsInScenario_) {
      error(q, fmt::format("step {} out of range: the scenario has steps 1..{} (0: the start)", *q.step,
                           stepsInScenario_));
    }
  }
}

void Explainer::stepDone(const World& world, const StepRecord& r) {
  started_ = true;
  lastStepDone_ = r.number;
  for (size_t i = 0; i < requests_.size(); ++i) {
    const auto& q = requests_[i];
    // Only the step and its causes about the pair are kept: a step of a wide scenario has a
    // cause per policy.
    PairChange change{r.number, r.at, r.what, {}};
    for (size_t c = 0; c < r.causes.size() && c < r.causePairs.size(); ++c) {
      if (r.causePairs[c] == q.pair) change.causes.push_back(r.causes[c]);
    }
    if (!change.causes.empty()) lastChange_[i] = std::move(change);
    if (q.step == r.number) {
      explain(world, i, r.number == 0 ? std::string("after the start")
                                      : fmt::format("after step {} (line {}): {}", r.number, r.at.line, r.what));
    }
  }
}

void Explainer::scenarioEnded(const World& world) {
  for (size_t i = 0; i < requests_.size(); ++i) {
    const auto& q = requests_[i];
    if (!q.step) {
      explain(world, i, "at the end");
    } else if (*q.step <= stepsInScenario_ && (!started_ || *q.step > lastStepDone_)) {
      error(q, fmt::format("step {} not reached: the scenario stopped {}", *q.step,
                           started_ ? fmt::format("after step {}", lastStepDone_) : std::string("at its start")));
    }
  }
}

void Explainer::explain(const World& world, size_t i, const std::string& when) {
  const auto& q = requests_[i];
  const auto lines = explainPair(world, q.pair, lastChange_[i] ? &*lastChange_[i] : nullptr);
  if (lines.empty()) {
    error(q, fmt::format("pair {} is unknown {}: no binding, policy, status or exit entry names it", q.pair,
                         q.step ? fmt::format("after step {}", *q.step) : std::string("at the end")));
    return;
  }
  fmt::print(out_, "explain {} {}\n", q.pair, when);
  for (const auto& line : lines) fmt::print(out_, "{}\n", line);
  fmt::print(out_, "\n");
}

void Explainer::error(const ExplainRequest& q, const std::string& text) {
  ++errors_;
  fmt::print(err_, "iesim: --explain {} ({}): {}\n", q.text, scenario_, text);
}

}  // namespace IeSim
