// The engine's InternetExit module as the simulator keeps it: the module, its configuration and
// status pair, and a data-path model that applies what the module queues.
//
// present: orbcsd.internetExitModule holds the module, made with Orb::internetExitFactory (or
// siEdgeFactory, or a plain Orb::Module that the helpers count as no InternetExit module), and a
// fresh Orb::DataPathModel stands for its data path. absent: the attribute is empty and there is
// no model; the data path of a module that went is gone with it.
//
// The module and orbcsd hold each other, so the attribute is cleared before the module is let go
// (moduleDel, and the destructor).
#pragma once

#include <absl/container/btree_map.h>
#include <absl/container/flat_hash_set.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/engine/OrbCommonSmData.h"
#include "platform/module/DataPathModel.h"
#include "platform/module/Module.h"
#include "proto/scenario.pb.h"
#include "tools/iesim/Watch.h"

namespace Orb {
class InternetExit;
}

namespace IeSim {

class DataPath {
 public:
  explicit DataPath(Mica::Ptr<Orb::OrbCommonSmData> orbcsd) : orbcsd_(std::move(orbcsd)) {}
  ~DataPath() { moduleDel(); }
  DataPath(const DataPath&) = delete;
  DataPath& operator=(const DataPath&) = delete;

  // Makes a module as `m` describes (its defaults filled in) and sets it in orbcsd, replacing
  // the current one. Returns e.g. "InternetExit module \"InternetExit\" (out gates 1..63)".
  std::string moduleIs(const iesim::pb::Module& m);
  // Clears orbcsd's attribute and drops the module and its data path. Returns what went
  // ("" when there was none).
  std::string moduleDel();

  bool present() const noexcept { return static_cast<bool>(module_); }
  const Mica::Ptr<Orb::Module>& module() const noexcept { return module_; }
  // The module as an InternetExit (an SiEdge is one); null otherwise.
  Orb::InternetExit* internetExit() const noexcept;
  // The gate `intf` holds on the module's gate manager and its number of users; noGate and 0
  // without an InternetExit module or gate manager.
  std::pair<uint32_t, uint32_t> gateOf(const Wire::IntfId& intf) const;

  // The data path of the present module; null when absent.
  const Orb::DataPathModel* model() const noexcept { return model_.get(); }

  // What one drain showed, as report lines, kept like an output's changes: a step of a million
  // commands formats sixteen of them.
  struct Drained {
    KeptLines commands;                  // the queued commands, oldest first (describe())
    KeptLines table;                     // "- <entry>" then "+ <entry>" changes of the exit table
    std::vector<std::string> anomalies;  // anomalies the drain added, "<kind>: <text>"
    std::vector<Lane::VniAndLaneId> pairs;  // the pairs of the exit-info commands, each once
  };
  // Applies the pending commands to the model and keeps what the step's drain will show. The
  // runner calls it after each task run, so that a step's million commands are not all queued
  // at once.
  void applyPending();
  // Applies the pending commands, then returns what the commands applied since the last drain
  // did: the commands, the net change of each exit entry they named, the anomalies and pairs.
  Drained drain();

  // Exit-info commands drained since resetCommandCounts(): added counts adds, removed deletes.
  const ChangeCounts& commandCounts() const noexcept { return commandCounts_; }
  void resetCommandCounts() noexcept { commandCounts_ = {}; }

 private:
  Mica::Ptr<Orb::OrbCommonSmData> orbcsd_;
  Mica::Ptr<Orb::ModuleConfigStatusPair> pair_;
  Mica::Ptr<Orb::Module> module_;
  std::unique_ptr<Orb::DataPathModel> model_;
  size_t anomaliesSeen_ = 0;
  ChangeCounts commandCounts_;
  // Since the last drain: what it will show, and each exit entry the commands named with whether
  // the table held it before the first of them (the step's net change, in the commands' size
  // rather than the table's).
  struct Applied {
    Drained shown;
    absl::btree_map<Orb::DataPathModel::ExitEntry, bool> heldBefore;
    absl::flat_hash_set<Lane::VniAndLaneId> pairsSeen;
  };
  Applied applied_;
};

// "<vni>.<lane> intf=<name> gate=<g> aux=<a> type=<IE_RESULT_...>", as the model prints entries.
std::string exitEntryText(const Orb::DataPathModel::ExitEntry& e);

}  // namespace IeSim
