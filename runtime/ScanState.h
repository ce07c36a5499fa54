// The two small state entities every state machine owns.
//
// InputSmScanState: one flag `<pipeline>Scan` per pipeline, true while every input scan that
// feeds the pipeline has completed its current pass, then `idle`.
// OutputState: one flag `<o>Ready` per output, then `ready`, the conjunction of all of them.
// Both publish a change of a flag (attribute id = the flag's index; idleAttr/readyAttr for the
// last one) and only on a change.
#pragma once

#include <string>
#include <vector>

#include "platform/mica/Entity.h"

namespace Flo {

class FlagSet : public Mica::Entity {
 public:
  size_t flagAdd(std::string name) {
    names_.push_back(std::move(name));
    flags_.push_back(false);
    return flags_.size() - 1;
  }
  size_t size() const noexcept { return flags_.size(); }
  bool flag(size_t i) const noexcept { return flags_[i]; }
  const std::string& name(size_t i) const noexcept { return names_[i]; }
  bool allSet() const noexcept {
    for (bool f : flags_)
      if (!f) return false;
    return true;
  }
  // Sets flag i; publishes (i) only on a change.
  void flagIs(size_t i, bool value) {
    if (flags_[i] == value) return;
    flags_[i] = value;
    notify(static_cast<Mica::AttrId>(i), nullptr, nullptr);
  }

 protected:
  std::vector<std::string> names_;
  std::vector<bool> flags_;
};

class InputSmScanState : public FlagSet {
 public:
  static constexpr Mica::AttrId idleAttr = 0xFFFF;
  bool idle() const noexcept { return idle_; }
  void idleIs(bool v) {
    if (idle_ == v) return;
    idle_ = v;
    notify(idleAttr, nullptr, nullptr);
  }

 private:
  bool idle_ = false;
};

class OutputState : public FlagSet {
 public:
  static constexpr Mica::AttrId readyAttr = 0xFFFF;
  bool ready() const noexcept { return ready_; }
  // Sets `<o>Ready` and recomputes `ready` (handleReady).
  void outputReadyIs(size_t i, bool v) {
    flagIs(i, v);
    handleReady();
  }

 private:
  void handleReady() {
    bool all = allSet();
    if (all == ready_) return;
    ready_ = all;
    notify(readyAttr, nullptr, nullptr);
  }
  bool ready_ = false;
};

}  // namespace Flo
