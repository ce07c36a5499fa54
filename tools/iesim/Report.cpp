#include "tools/iesim/Report.h"

#include <absl/container/btree_map.h>
#include <fmt/format.h>

namespace IeSim {

namespace {

// Changes and table rows shown per step and per scenario; --dump prints everything.
constexpr size_t kChangesShown = 16;
constexpr size_t kRowsShown = 64;
// Width of the labels of a step's lines.
constexpr int kLabelWidth = 13;

}  // namespace

void Report::line(std::string_view label, std::string_view text) {
  fmt::print(out_, "  {:<{}} {}\n", label, kLabelWidth, text);
}

void Report::scenarioStarted(const LoadedScenario& s) {
  if (!enabled_) return;
  const auto& name = s.scenario.name();
  fmt::print(out_, "== scenario {} ({})\n", name.empty() ? "(unnamed)" : name, s.file);
  if (!s.scenario.description().empty()) fmt::print(out_, "   {}\n", s.scenario.description());
  fmt::print(out_, "\n");
}

void Report::step(const StepRecord& r) {
  if (!enabled_) return;
  if (r.number == 0) {
    fmt::print(out_, "start: {}\n", r.what);
  } else if (r.at.line > 0) {
    fmt::print(out_, "step {} (line {}): {}\n", r.number, r.at.line, r.what);
  } else {
    fmt::print(out_, "step {}: {}\n", r.number, r.what);
  }
  if (!r.why.empty()) line("why", r.why);
  for (const auto& note : r.notes) line("", note);
  if (r.changes.empty() && !r.expect) line("polToVniLane", "unchanged");
  for (size_t i = 0; i < r.changes.size() && i < kChangesShown; ++i) {
    const auto& c = r.changes[i];
    line(i == 0 ? "polToVniLane" : "", fmt::format("{} {}", c.added ? '+' : '-', c.key));
  }
  if (r.changes.size() > kChangesShown) {
    line("", fmt::format("... {} more changes", r.changes.size() - kChangesShown));
  }
  for (size_t i = 0; i < r.runs.size(); ++i) {
    const auto& t = r.runs[i];
    line(i == 0 ? "tasks" : "", fmt::format("{}: {} run{}, work {}", t.task, t.runs,
                                            t.runs == 1 ? "" : "s", t.work));
  }
  for (const auto& check : r.checks) line("ok", check);
  for (const auto& failure : r.failed) line("FAILED", failure);
  if (!r.expect) line("sm", r.sm);
  fmt::print(out_, "\n");
}

void Report::stepAborted(size_t number, Location at, std::string_view kind,
                         std::string_view text) {
  if (!enabled_) return;
  if (number == 0) {
    fmt::print(out_, "start:\n");
  } else {
    fmt::print(out_, "step {} (line {}): {}\n", number, at.line, kind);
  }
  line("FAILED", text);
  fmt::print(out_, "  (the scenario stops here)\n\n");
}

void Report::pairTable(const Lane::LaneStatusDir& lanes,
                       const OrbInternetExit::IePolicyToVniLaneDir& output) {
  if (!enabled_) return;
  // pair -> (bound policy, policies of the output's keys)
  struct Row {
    std::string bound;
    std::string keys;
  };
  absl::btree_map<Lane::VniAndLaneId, Row> rows;
  for (const auto& [pair, policy] : lanes.laneToIEMap) rows[pair].bound = policy.str();
  for (const auto& key : output.polToVniLane) {
    auto& keys = rows[key.vniLaneId].keys;
    keys += fmt::format("{}{}", keys.empty() ? "" : ",", key.policyName);
  }
  fmt::print(out_, "pairs at the end ({} bound, {} keys in polToVniLane):\n",
             lanes.laneToIEMap.size(), output.polToVniLane.size());
  if (rows.empty()) {
    fmt::print(out_, "  (none)\n\n");
    return;
  }
  fmt::print(out_, "  {:<10} {:<20} {}\n", "pair", "bound policy", "polToVniLane");
  size_t shown = 0;
  for (const auto& [pair, row] : rows) {
    if (shown++ == kRowsShown) {
      fmt::print(out_, "  ... {} more pairs\n", rows.size() - kRowsShown);
      break;
    }
    const std::string bound = row.bound.empty() ? "-" : row.bound;
    const std::string keys = row.keys.empty() ? "-" : row.keys;
    fmt::print(out_, "  {:<10} {:<20} {}{}\n", fmt::format("{}", pair), bound, keys,
               bound == keys ? "" : "   (differs)");
  }
  fmt::print(out_, "\n");
}

void Report::scenarioEnded(const LoadedScenario& s, size_t steps, size_t checks,
                           size_t failures) {
  if (!enabled_) return;
  const auto& name = s.scenario.name().empty() ? s.file : s.scenario.name();
  fmt::print(out_, "== {}: {} ({} steps, {} expectations held{})\n\n", name,
             failures == 0 ? "passed" : "FAILED", steps, checks,
             failures == 0 ? "" : fmt::format(", {} failed", failures));
}

void Report::dumpOutput(std::FILE* out, const OrbInternetExit::IePolicyToVniLaneDir& output) {
  fmt::print(out, "polToVniLane ({} keys):\n", output.polToVniLane.size());
  for (const auto& key : output.polToVniLane) fmt::print(out, "  {}\n", key);
}

}  // namespace IeSim
