// The report a person reads: per step what happened, why, the changes of each output (those
// upstream of the exit groups counted in one line unless asked for), the data-path commands, why
// policies and the data path changed, and the state machines' state when not ready and idle; at
// the end the exit groups, the policies and the data path.
//
//   step 2 (line 20): interface eth1 absent (removed)
//     why              eth1 fails: Primary goes down, Backup wins
//     upstream         exitOption 2 changes (--upstream lists them)
//     exitGroup        - Primary@10.1 localExit:wan1: localDefaultVrf intf=eth1 gate=1 aux=5
//     policyStatus     + Gold@10.1 remoteResolved gate=none aux=42
//                      - Gold@10.1 localDefaultVrf intf=eth1 gate=1 aux=5
//                      ~ Gold@10.1 wins Backup (was Primary)
//     commands         addLaneIeExitInfo 10.1 intf= gate=4294967295 aux=42 type=...
//                      delLaneIeExitInfo 10.1 intf=eth1 gate=1 aux=5 type=...
//     cause            Gold@10.1 <- Primary lost localExit:wan1 (now noResult)
//
// With every table (Detail::tables), at the end (endState) also: the pairs (bound policy, polToVniLane, default route), the status
// configuration per pair (policy, entries, groups with their options), the reverse map, the
// engine (VRFs, interfaces, default-route sets), the exit options (groups and result per
// option, with the resolver's requests and responses and the connections), the data path
// (module, exit table, anomalies) and the gates (per interface holding one: its gate, its users
// and the options whose result uses it).
//
// A disabled report writes nothing; failures are not its business (the runner writes them to
// stderr, so that they show also with --quiet).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/iesim/Scenario.h"
#include "tools/iesim/World.h"

namespace IeSim {

// Lines shown per output and step; --dump prints the end state in full.
inline constexpr size_t kChangesShown = 16;

struct StepRecord {
  size_t number = 0;  // 0: the start, before the first step
  Location at;
  std::string what;                  // what the step did, with the values it met
  std::string why;                   // the step's own comment
  std::vector<std::string> notes;    // further facts, e.g. the initial state
  // Changes per output, then the data path's "commands", "exitTable" and "anomalies".
  std::vector<OutputChanges> changes;
  // Why policies and the data path changed (causeLines): the first kChangesShown lines and those
  // about the pairs an explanation follows, each with its pair; causeCount counts every line.
  std::vector<std::string> causes;
  std::vector<Lane::VniAndLaneId> causePairs;
  size_t causeCount = 0;
  bool direct = false;               // a direct write of outputs: no cause to tell
  std::vector<TaskRuns> runs;
  bool expect = false;               // an expect step: checks instead of changes and state
  std::vector<std::string> checks;   // expectations that held
  std::vector<std::string> failed;   // expectations that did not
  std::string sm;                    // the state machines' state after the step
  // What the step took, the library's work and the simulator's bookkeeping of its changes (not
  // the report's printing).
  Elapsed elapsed;
};

class Report {
 public:
  // What a report shows beyond its default: per step the tasks that ran (per state machine),
  // the changes of the outputs upstream of the exit groups line by line (else one line counting
  // them), and at the end every table (else the exit groups, the policies and the data path).
  // With `timing`, the time each step took, and at the end the whole run's and the peak RSS:
  // measured, so they differ from run to run.
  struct Detail {
    bool tasks = false;
    bool upstream = false;
    bool tables = false;
    bool timing = false;
  };
  // Writes to `out` (not owned) when `enabled`.
  Report(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {}
  Report(std::FILE* out, bool enabled, Detail detail) : out_(out), enabled_(enabled), detail_(detail) {}

  void scenarioStarted(const LoadedScenario& s);
  void step(const StepRecord& r);
  // A step that the library stopped with an assertion or an error (`text`).
  void stepAborted(size_t number, Location at, std::string_view kind, std::string_view text);
  // The tables of the end state.
  void endState(const World& world);
  // `run`: from the start of the run, the scenario read, to its end; the report adds the
  // reading (LoadedScenario::load).
  void scenarioEnded(const LoadedScenario& s, size_t steps, size_t checks, size_t failures,
                     const Elapsed& run);

  // Everything in full, without the report's row limits (--dump; written even when the report
  // is off): polToVniLane, the status configuration, the reverse map, then the dumpState of the
  // engine, of the trackers' outputs, of the module and of its data path.
  static void dump(std::FILE* out, const World& world);

  // Rows shown per table; --dump prints everything.
  static constexpr size_t kRowsShown = 64;

 private:
  void line(std::string_view label, std::string_view text);
  // ConfigReport.cpp
  void pairTable(const World& world);
  void statusConfigTable(const World& world);
  void groupToPolicyTable(const World& world);
  // EngineReport.cpp
  void engineTable(const World& world);
  void dataPathTable(const World& world);
  // ExitOptionReport.cpp
  void exitOptionTable(const World& world);
  void exitGroupTable(const World& world);
  void policyTable(const World& world);
  void gateTable(const World& world);

  std::FILE* out_;
  bool enabled_;
  Detail detail_;
};

// "3 bindings", "1 binding"; "2 policies" with the plural form given.
std::string plural(size_t n, const char* what, const char* whats = nullptr);

// One pair's status configuration as the report prints it: per policy one line
// "policy <name>", then per entry "<seq> -> <group>  <its options>", then the groups that no
// entry names. A pair without policy shows "no policy". A group shows at most `optionsShown`
// options.
std::vector<std::string> pairStatusLines(const OrbInternetExit::IeStatusConfig& cfg,
                                         size_t optionsShown = SIZE_MAX);

}  // namespace IeSim
