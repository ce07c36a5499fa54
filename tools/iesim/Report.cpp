#include "tools/iesim/Report.h"

#include <fmt/format.h>

#include <algorithm>

namespace IeSim {

namespace {

// Width of the labels of a step's lines: the longest output name, "vniLaneDefRoute", and a blank.
constexpr int kLabelWidth = 16;

// "IeStatusConfigSm" for "OrbInternetExit::IeStatusConfigSm-ConfigSm1InputScanTask0" and for
// "IeStatusConfigSm-statusCfgDirStatusConfigOutputTask".
std::string smOfTask(std::string_view task) {
  if (const size_t ns = task.find("::"); ns != std::string_view::npos) task.remove_prefix(ns + 2);
  return std::string(task.substr(0, task.find('-')));
}

// The outputs that the exit groups are computed from.
bool isUpstream(std::string_view output) {
  for (const char* name : {"polToVniLane", "statusConfig", "groupToPolicy", "vniDefRoute", "vniLaneDefRoute",
                           "exitOption", "resolverRequest"}) {
    if (output == name) return true;
  }
  return false;
}

// "18.21 s", "3.50 ms", "12 us".
std::string secondsText(double s) {
  if (s >= 1) return fmt::format("{:.2f} s", s);
  if (s >= 1e-3) return fmt::format("{:.2f} ms", s * 1e3);
  return fmt::format("{:.0f} us", s * 1e6);
}

// "18.21 s, 18.05 s of CPU".
std::string timeText(const Elapsed& e) { return secondsText(e.wall) + ", " + secondsText(e.cpu) + " of CPU"; }

}  // namespace

std::string plural(size_t n, const char* what, const char* whats) {
  if (n == 1) return fmt::format("1 {}", what);
  return whats != nullptr ? fmt::format("{} {}", n, whats) : fmt::format("{} {}s", n, what);
}

void Report::line(std::string_view label, std::string_view text) {
  fmt::print(out_, "  {:<{}} {}\n", label, kLabelWidth, text);
}

void Report::scenarioStarted(const LoadedScenario& s) {
  if (!enabled_) return;
  const auto& name = s.scenario.name();
  fmt::print(out_, "== scenario {} ({})\n", name.empty() ? "(unnamed)" : name, s.file);
  if (!s.scenario.description().empty()) fmt::print(out_, "   {}\n", s.scenario.description());
  if (detail_.timing) fmt::print(out_, "   read and checked in {}\n", timeText(s.load));
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
  if (r.changes.empty() && !r.expect) line("outputs", "unchanged");
  std::string upstream;
  for (const auto& output : r.changes) {
    if (!detail_.upstream && isUpstream(output.output)) {
      upstream += fmt::format("{}{} {}", upstream.empty() ? "" : ", ", output.output, output.lines.size() + output.more);
    }
  }
  if (!upstream.empty()) line("upstream", upstream + " changes (--upstream lists them)");
  // Without a refused command the table changed as the commands say.
  const bool refused = std::any_of(r.changes.begin(), r.changes.end(),
                                   [](const OutputChanges& c) { return c.output == "anomalies"; });
  for (const auto& output : r.changes) {
    if (!detail_.upstream && isUpstream(output.output)) continue;
    if (output.output == "exitTable" && !refused) continue;
    for (size_t i = 0; i < output.lines.size() && i < kChangesShown; ++i) {
      line(i == 0 ? output.output : "", output.lines[i]);
    }
    const size_t hidden = output.lines.size() - std::min(output.lines.size(), kChangesShown);
    if (hidden + output.more != 0) line("", fmt::format("... {} more", hidden + output.more));
  }
  for (size_t i = 0; i < r.causes.size() && i < kChangesShown; ++i) line(i == 0 ? "cause" : "", r.causes[i]);
  const size_t causesShown = std::min(r.causes.size(), kChangesShown);
  if (r.causeCount > causesShown) line("", fmt::format("... {} more", r.causeCount - causesShown));
  // One line per state machine, in the order their first tasks ran (the Chrome trace has every
  // task by name).
  struct SmRuns {
    std::string sm;
    size_t tasks = 0;
    uint64_t runs = 0;
    uint64_t work = 0;
  };
  std::vector<SmRuns> bySm;
  for (const auto& t : r.runs) {
    const std::string sm = smOfTask(t.task);
    auto it = std::find_if(bySm.begin(), bySm.end(), [&](const SmRuns& s) { return s.sm == sm; });
    if (it == bySm.end()) it = bySm.insert(bySm.end(), SmRuns{sm});
    ++it->tasks;
    it->runs += t.runs;
    it->work += t.work;
  }
  for (size_t i = 0; detail_.tasks && i < bySm.size(); ++i) {
    const auto& s = bySm[i];
    line(i == 0 ? "tasks" : "", fmt::format("{}: {}, {}, work {}", s.sm, plural(s.tasks, "task"),
                                            plural(s.runs, "run"), s.work));
  }
  for (const auto& check : r.checks) line("ok", check);
  for (const auto& failure : r.failed) line("FAILED", failure);
  if (!r.expect && r.sm != "ready, idle") line("sm", r.sm);
  if (detail_.timing) line("time", timeText(r.elapsed));
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

void Report::endState(const World& world) {
  if (!enabled_) return;
  if (detail_.tables) {
    pairTable(world);
    statusConfigTable(world);
    groupToPolicyTable(world);
    engineTable(world);
    exitOptionTable(world);
  }
  exitGroupTable(world);
  policyTable(world);
  dataPathTable(world);
  if (detail_.tables) gateTable(world);
}

void Report::scenarioEnded(const LoadedScenario& s, size_t steps, size_t checks,
                           size_t failures, const Elapsed& run) {
  if (!enabled_) return;
  const auto& name = s.scenario.name().empty() ? s.file : s.scenario.name();
  if (detail_.timing) {
    const Elapsed all{s.load.wall + run.wall, s.load.cpu + run.cpu};
    fmt::print(out_, "time: {} with the reading of the file; peak RSS of the process {:.1f} MiB\n", timeText(all),
               static_cast<double>(peakRssBytes()) / (1024.0 * 1024.0));
  }
  fmt::print(out_, "== {}: {} ({} steps, {} expectations held{})\n\n", name,
             failures == 0 ? "passed" : "FAILED", steps, checks,
             failures == 0 ? "" : fmt::format(", {} failed", failures));
}

}  // namespace IeSim
