// Flo::ReadyOutput: an output that is never reconciled and only has its ready flag.
//
// Some outputs are not collections the state machine keeps in line with its inputs but single
// attributes it overwrites on each evaluation (an exit option's `resultExitIntf`, a policy's
// `winningExitGroup`) or its own local attributes (`temp`, `dummy`, a scratchpad). Such an
// output has no key type, no seen set and nothing to delete at start: the next evaluation
// overwrites whatever an earlier run left. What it shares with the other outputs is its
// `<o>Ready` flag in OutputState, which counts in the state machine's `ready`:
//
//   handle<O>InputReady:  entry trace, " already ready, not reconciling." once ready,
//                         wait for the scan flags, start the initial scan phase if needed,
//                         "Input scans for <o> complete", then ready.
//
// Declaring one (in the state machine's constructor, after the outputs it follows):
//   outputIs(std::make_unique<Flo::ReadyOutput>(*this, "tempOutput", std::vector<size_t>{optToGrpMap}));
//
// Contract: it never deletes anything and never records anything as seen. Being declared after
// the reconciled outputs, it becomes ready once they are (outputs get ready in declaration
// order, Output.h).
//
// Such outputs have no reconciliation task (the task of an output exists for its deletion pass)
// and write no "Reconciling <o>" trace at start.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "runtime/Output.h"

namespace Flo {

class ReadyOutput final : public OutputBase {
 public:
  ReadyOutput(StateMachine& sm, std::string name, std::vector<size_t> waitsFor)
      : OutputBase(sm, std::move(name), std::move(waitsFor), false) {}

 protected:
  // Nothing to reconcile: the output counts as empty at start, so reconciling() stays false
  // and the deletion pass never runs.
  bool reconciled() const noexcept override { return false; }
  bool outputNonEmpty() const override { return false; }
  bool cursorFirst(bool) override { return false; }
  bool cursorTakeSeen() override { return true; }
  void cursorDelete() override {}
  bool cursorNext() override { return false; }
  void cursorToBookmark() override {}
  bool releaseOne() override { return false; }
};

}  // namespace Flo
