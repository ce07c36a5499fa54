// Orb::DataPathModel: a model of one module's data path, so that tests and the simulator can see
// what the data path would forward.
//
// The model takes the commands that the module queued on its configuration half and applies
// them, oldest first, to its state:
//
//   command              argument                      effect
//   addLaneIeExitInfo    orb::pb::IeLaneToExitInfoArg   adds the exit entry (pair, result)
//   delLaneIeExitInfo    orb::pb::IeLaneToExitInfoArg   removes that same entry
//   setupCounters        orb::pb::InternetExitCountersArg  keeps the counter set-up
//   setupEdgeCounters    orb::pb::SiEdgeCountersArg     keeps the edge counter set-up
//
// The exit table holds, per (VNI, lane) pair, the set of exit results the data path may use. An
// entry is identified by the pair and the whole result (type, gate, interface, auxiliary id), which
// is why a delete carries the same complete message as its add.
//
// A command the data path would refuse is counted as rejected and recorded as an anomaly, never
// fatal: a repeated add, a delete of an entry the table does not hold, an unknown command, a
// missing or mistyped argument, a command addressed to another module, an argument field out of
// range. The table is left unchanged by a rejected command.
//
// Thread-safety: none; the agent's scheduler thread only.
#pragma once

#include <absl/container/btree_set.h>

#include <compare>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/agents/VniAndLaneId.h"
#include "platform/keel/Dump.h"
#include "platform/mica/String.h"
#include "platform/module/ModuleConfig.h"
#include "proto/orb.pb.h"

namespace Orb {

class DataPathModel {
 public:
  // Anomalies kept for reading; older ones are dropped (the count goes on). A report that a
  // person reads needs the first few, not a million.
  static constexpr size_t kMaxAnomaliesKept = 256;

  // One exit entry: a pair and the result sent for it. Ordered by pair, then the result fields.
  struct ExitEntry {
    Lane::VniAndLaneId vniLane;
    uint32_t resultType = 0;
    uint32_t gateId = 0;
    uint64_t intfId = 0;
    uint32_t auxId = 0;
    friend auto operator<=>(const ExitEntry&, const ExitEntry&) = default;
  };

  enum class AnomalyKind : uint8_t {
    repeatedAdd,
    deleteOfAbsent,
    unknownCommand,
    badArgument,
    otherModule,
  };
  static constexpr size_t kAnomalyKinds = 5;
  struct Anomaly {
    AnomalyKind kind;
    std::string text;  // what was refused, e.g. "delLaneIeExitInfo: no entry 12.3 intf=..."
  };

  // A model of the data path of the module named `moduleName`.
  explicit DataPathModel(Mica::String moduleName);

  // Applies every command pending in `pair`'s configuration half, oldest first, and leaves the
  // batch empty; then writes the running totals to the status half (when present). Returns the
  // number of commands applied by this call. A pair without a configuration half applies nothing.
  size_t drain(const ModuleConfigStatusPair& pair);
  // Applies one command; false (and one anomaly) if the data path refuses it.
  bool apply(const ModuleCmdBase& cmd);

  const absl::btree_set<ExitEntry>& exitTable() const noexcept { return table_; }
  // The entries of one pair, in table order.
  std::vector<ExitEntry> exitsOf(Lane::VniAndLaneId vniLane) const;

  uint64_t applied() const noexcept { return applied_; }
  // Commands of that name applied; 0 for a name the model does not know.
  uint64_t applied(std::string_view cmdName) const noexcept;
  uint64_t rejected() const noexcept { return rejected_; }
  // Kept anomalies, oldest first (at most kMaxAnomaliesKept).
  const std::vector<Anomaly>& anomalies() const noexcept { return anomalies_; }
  // Rejections of one kind since construction, kept or not.
  uint64_t anomalyCount(AnomalyKind kind) const noexcept;

  const std::optional<orb::pb::InternetExitCountersArg>& counters() const noexcept {
    return counters_;
  }
  const std::optional<orb::pb::SiEdgeCountersArg>& edgeCounters() const noexcept {
    return edgeCounters_;
  }

  // One line for a person: "<command> <pair> intf=<name> gate=<g> aux=<a> type=<name>" for an
  // exit-info command, "<command> <argument in protobuf short text form>" for another (just the
  // name when it carries no argument). For reports of the queued commands.
  static std::string describe(const ModuleCmdBase& cmd);
  // The entry an exit-info argument names, its VNI and lane cut to 16 bits each (the model
  // refuses a command whose values are wider).
  static ExitEntry entryNamed(const orb::pb::IeLaneToExitInfoArg& arg) noexcept;

  // Checks the exit table's structure; aborts on corruption.
  void checkInvariants() const { table_.verify(); }

  // "DataPath <module>: applied <n> rejected <m>", then per entry in table order
  // "<vni>.<lane> intf=<name> gate=<g> aux=<a> type=<name>" at indent + 2, then the counter
  // set-ups when present.
  void dumpState(const Mica::Ptr<const Keel::DumpContext>& ctx, unsigned indent) const;

 private:
  struct Command;
  // The command table: {name, argument type, handler}, one row per command above.
  static std::span<const Command> commandTable();
  // Index of the command named `name` in the table, or -1.
  static int findCommand(std::string_view name) noexcept;

  bool addLaneIeExitInfo(const orb::pb::IeLaneToExitInfoArg& arg);
  bool delLaneIeExitInfo(const orb::pb::IeLaneToExitInfoArg& arg);
  bool setupCounters(const orb::pb::InternetExitCountersArg& arg);
  bool setupEdgeCounters(const orb::pb::SiEdgeCountersArg& arg);

  // The entry an exit-info argument names; nothing (after an anomaly) if it names none.
  std::optional<ExitEntry> entryOf(std::string_view cmdName,
                                   const orb::pb::IeLaneToExitInfoArg& arg);
  bool reject(AnomalyKind kind, std::string text);
  // The same, its text made by `text()` only while anomalies are kept: a restart over a full
  // table re-adds every entry, a million anomalies of which 256 are kept.
  template <class MakeText>
  bool rejectLazily(AnomalyKind kind, MakeText&& text) {
    return reject(kind, anomalies_.size() < kMaxAnomaliesKept ? std::forward<MakeText>(text)() : std::string());
  }

  Mica::String moduleName_;
  ModuleConfig::CmdQueue batch_;  // the batch being applied
  absl::btree_set<ExitEntry> table_;
  uint64_t applied_ = 0;
  uint64_t rejected_ = 0;
  std::vector<uint64_t> appliedByCmd_;  // indexed like the command table
  uint64_t anomalyCounts_[kAnomalyKinds] = {};  // indexed by AnomalyKind
  std::vector<Anomaly> anomalies_;
  std::optional<orb::pb::InternetExitCountersArg> counters_;
  std::optional<orb::pb::SiEdgeCountersArg> edgeCounters_;
};

std::string_view anomalyKindName(DataPathModel::AnomalyKind kind) noexcept;

}  // namespace Orb
