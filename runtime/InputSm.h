// Top-level input SMs and the sources they serve.
//
// An InputArgSm follows one input argument entity (`LaneStatusDirSm0` follows `laneStatusDir`).
// It subscribes once to the entity and hands each notification to the sources that read the
// notified collection, in source-number order. A source is one `from` path of the state
// machine, numbered N within it: its top level scans one collection of the argument (task
// "<ns>::<Sm>-<ArgSm>InputScanTask<N>" when asynchronous); for a path through collections of
// entities, the same subscription also delivers the changes of every element below the
// argument, which the source recognises by their owner chain (runtime/internal/LevelSm.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <absl/container/flat_hash_set.h>

#include "platform/keel/Task.h"
#include "platform/mica/Entity.h"
#include "runtime/StateMachine.h"

namespace Flo {

// Values of inputScanState<N>.
enum class ScanState : uint8_t { notStarted = 0, yielded = 1, complete = 2, completeInitial = 3 };

class InputArgSmBase;

// One source: the top level of one `from` path.
class SourceBase : private Mica::Subscriber {
 public:
  SourceBase(InputArgSmBase& arg, size_t number, size_t pipeline)
      : arg_(arg), number_(number), pipeline_(pipeline) {}
  virtual ~SourceBase();
  SourceBase(const SourceBase&) = delete;
  SourceBase& operator=(const SourceBase&) = delete;

  size_t number() const noexcept { return number_; }
  size_t pipeline() const noexcept { return pipeline_; }
  ScanState inputScanState() const noexcept { return state_; }
  bool inputScanComplete() const noexcept;
  const Keel::Task* task() const noexcept { return task_.get(); }
  InputArgSmBase& arg() const noexcept { return arg_; }
  StateMachine& sm() const noexcept;

  // Attribute id of the argument's collection that this source reads.
  virtual Mica::AttrId attrId() const noexcept = 0;
  // A change notification of that collection (reactor).
  virtual void onArgNotification(const void* key, const void* oldValue) = 0;
  // Whether the path goes below the argument's own collections (nested levels).
  virtual bool followsDescendants() const noexcept = 0;
  // A change of an entity below the argument (a nested level's reactor, when on this path).
  virtual void onNestedNotification(const Mica::Entity& source, Mica::AttrId attr,
                                    const void* key, const void* oldValue) = 0;
  // One pass, or the rest of a yielded one (doInputScan<N>).
  virtual void doInputScan() = 0;
  virtual void doDeleteAll() = 0;

  // Starts the source: creates its task (which runs the first pass at once) or, in a
  // synchronous state machine, runs the first pass in place.
  void start();
  // Starts a new pass: schedules the task, or runs the pass in place when synchronous.
  void startPass();
  // shouldYield<N>(): false without a task or while inReactor, else the task's answer.
  bool shouldYield() const;
  bool inTask() const noexcept { return task_ && task_->taskCurrentlyRunning(); }
  // Runs `handle`, the pipeline call of one scan element, as a visit of that element (see
  // StateMachine::scanVisit). `again` is true when the pass resumes at the element it yielded
  // at. Returns false when a walk of the pipeline stopped early: the pass must then yield at
  // this element, and its next run visits it again and the walk resumes at its bookmark.
  template <class F>
  bool visitElement(bool again, F&& handle) {
    const uint64_t id = again && cutVisit_ != 0 ? cutVisit_ : sm().nextScanVisitId();
    cutVisit_ = 0;
    const StateMachine::ScanVisit outer = sm().scanVisitIs({id, this, false});
    handle();
    const bool cut = sm().scanVisitIs(outer).cut;
    if (cut) cutVisit_ = id;
    return !cut;
  }
  // Reports work done (one unit per element visited) to the run doing it: the scan task's own
  // run, or the run of whatever task a reactor's nested pass happens in.
  void workDone(uint64_t n) const { sm().workDone(n); }

 protected:
  // Scan bookkeeping shared by every top level; called by the level template.
  // The start of doInputScan<N>(): traces the entry and tells whether a pass is to run (the
  // input SM is initialized and the scan is neither complete nor waiting for initialScanDone).
  bool passDue() const;
  // The pass stopped early; `total` is the collection's size, reported as work pending.
  void yielded(uint64_t total);
  void completed();

  ScanState state_ = ScanState::notStarted;

 private:
  void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override;

  InputArgSmBase& arg_;
  Mica::Ptr<Keel::Task> task_;
  uint64_t cutVisit_ = 0;  // the visit whose walk stopped early, resumed by the next run
  size_t number_;
  size_t pipeline_;
};

// A top-level input SM: one per input argument.
class InputArgSmBase : private Mica::Subscriber {
 public:
  InputArgSmBase(StateMachine& sm, std::string name, const Mica::Entity* en)
      : sm_(sm), name_(std::move(name)), en_(en) {}
  virtual ~InputArgSmBase();
  InputArgSmBase(const InputArgSmBase&) = delete;
  InputArgSmBase& operator=(const InputArgSmBase&) = delete;

  StateMachine& sm() const noexcept { return sm_; }
  // The input SM's class name, "LaneStatusDirSm0".
  const std::string& name() const noexcept { return name_; }
  // The argument entity (null when the argument was null). Sources cast it to the entity type of
  // their first level, which may be a base class of the argument's type.
  const Mica::Entity* entity() const noexcept { return en_.get(); }
  bool initialized() const noexcept { return initialized_; }
  bool inReactor() const noexcept { return inReactor_; }
  // Sets inReactor and returns the previous value (reactors nest).
  bool inReactorIs(bool v) noexcept { return std::exchange(inReactor_, v); }
  size_t sourceCount() const noexcept { return sources_.size(); }
  SourceBase& source(size_t i) const { return *sources_[i]; }

  // Subscribes to the argument and starts every source (algorithm of input SM creation).
  void start();
  // doInputScan(): a new pass of every source.
  void doInputScan();
  void doDeleteAll();
  // Switches notifications off (muted: changes are not handled, only remembered as missed) or
  // back on. The subscription itself stays, so that a nested element changed while muted is
  // known and its retraction can report the missed notifications.
  void subscriptionIs(bool on);
  bool muted() const noexcept { return muted_; }
  void missedIs(const Mica::Entity* e) { missed_.insert(e); }
  bool missed(const Mica::Entity* e) const { return missed_.contains(e); }
  // Changes notified so far by the argument and every entity below it, muted or not: equal
  // counts taken at two moments mean the argument's whole tree did not change in between.
  uint64_t notifications() const noexcept { return notifications_; }

  template <class S, class... A>
  S& sourceIs(A&&... a) {
    auto s = std::make_unique<S>(*this, std::forward<A>(a)...);
    S& ref = *s;
    sources_.push_back(std::move(s));
    return ref;
  }

 private:
  void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override;
  void onDescendantNotification(const Mica::Entity& source, Mica::AttrId attr, const void* key,
                                const void* oldValue) override;

  StateMachine& sm_;
  std::string name_;
  // Counted: the base's destructor unsubscribes from it after the derived InputArgSm (and the
  // state machine's own argument) may have released their references.
  Mica::Ptr<const Mica::Entity> en_;
  std::vector<std::unique_ptr<SourceBase>> sources_;
  // Nested elements whose collections changed while muted (runtime use only; never shrinks).
  absl::flat_hash_set<const Mica::Entity*> missed_;
  uint64_t notifications_ = 0;
  bool initialized_ = false;
  bool inReactor_ = false;
  bool subscribed_ = false;
  bool muted_ = false;
};

// The typed top-level input SM of argument type E.
template <class E>
class InputArgSm : public InputArgSmBase {
 public:
  InputArgSm(StateMachine& sm, std::string name, const Mica::Ptr<const E>& en)
      : InputArgSmBase(sm, std::move(name), en.get()), en_(en) {}
  const E& en() const noexcept { return *en_; }
  const Mica::Ptr<const E>& enPtr() const noexcept { return en_; }

 private:
  Mica::Ptr<const E> en_;
};

inline StateMachine& SourceBase::sm() const noexcept { return arg_.sm(); }

// Sets inReactor for the life of a reactor call and restores it, also when the call throws.
class ReactorScope {
 public:
  // A reactor that runs inside a scan's visit (a pipeline's write that this state machine
  // reads) is no part of that visit: its walks must not be cut on the scan's behalf.
  explicit ReactorScope(InputArgSmBase& arg)
      : arg_(arg), was_(arg.inReactorIs(true)), visit_(arg.sm().scanVisitIs({})) {}
  ~ReactorScope() {
    arg_.sm().scanVisitIs(visit_);
    arg_.inReactorIs(was_);
  }
  ReactorScope(const ReactorScope&) = delete;
  ReactorScope& operator=(const ReactorScope&) = delete;

 private:
  InputArgSmBase& arg_;
  bool was_;
  StateMachine::ScanVisit visit_;
};

}  // namespace Flo
