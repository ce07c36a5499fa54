// Flo::StateMachine: what every reactive state machine shares.
//
// A state machine is declared, in its constructor, as
//   - its pointer arguments (argIs: name, pointer, optional?) for the null check;
//   - its pipelines (pipelineIs: name), each with a `<pipeline>Scan` flag;
//   - its top-level input SMs (inputIs), one per input argument, in argument order, each
//     holding the sources (from paths) that read that argument;
//   - its outputs (outputIs), each waiting for the scan flags of the pipelines that write it.
// The factory then calls handleInitialized(), which runs the whole start-up:
//
//   handleInitialized ──> input SMs created, first passes (tasks, or in place if synchronous)
//        │                     │ every pass complete: `<pipeline>Scan` flags true
//        ▼                     ▼
//   handleOutputInputReady(o) ──> handleInitialScanDone: flags false, second passes,
//        │                         in which every element reaches its pipeline
//        ▼  all of o's flags true again
//   reconciliation of o (deletes what the second passes did not produce), then o ready.
//
// Contract:
//  - Pipelines (eventTo<Pipeline>) must return at once while initialScanDone() is false.
//  - Everything runs on the scheduler's thread; notifications are synchronous.
//  - Destruction unsubscribes everything and leaves the outputs as they are.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/mica/Assert.h"
#include "platform/mica/Entity.h"
#include "platform/trace/Trace.h"
#include "runtime/ScanState.h"
#include "runtime/SmControl.h"

namespace Flo {

class InputArgSmBase;
class OutputBase;
class SourceBase;

// Trace levels of the state machines' debug handler.
inline constexpr int kLevelFilter = 6;    // failed filters, foreach counts
inline constexpr int kLevelPipeline = 7;  // pipeline entry and `into` writes
inline constexpr int kLevelKey = 8;       // per-key handlers, yields, plain progress messages
inline constexpr int kLevelProgress = 9;  // scans, initialization, reconciliation progress

inline constexpr const char* kDefaultTraceName = "OrbInternetExitStatusSm";

class StateMachine : public Mica::Node, private Mica::Subscriber {
 public:
  ~StateMachine() override;

  // Runs the start-up; factories call it once the object is fully constructed.
  void handleInitialized();

  bool ready() const noexcept { return outputState_ && outputState_->ready(); }
  bool idle() const noexcept {
    return ready() && (synchronous_ || (inputSmScanState_ && inputSmScanState_->idle()));
  }
  void qtHandleIs(Blip::TraceHandle* handle) noexcept { kivaControl_.qtHandle = handle; }
  // Retracts everything the inputs produced (runtime use).
  void doDeleteAll();
  // Switches the subscriptions of the state machine and its input SMs on or off.
  void hasNotificationActiveIs(bool active);

  bool initialized() const noexcept { return initialized_; }
  bool initialScanDone() const noexcept { return initialScanDone_; }
  // Whether the start is quiet: no input argument has notified a change since the state machine
  // was created (every input holds what the start-up scans are reading), and no level of its
  // debug handler is on. A pipeline whose result depends on its inputs alone may then skip a key
  // it has already evaluated in this run: the evaluation would write nothing new, and no trace
  // shows that it did not run.
  bool quietStart() const noexcept;
  bool synchronous() const noexcept { return synchronous_; }
  const SmControl& kivaControl() const noexcept { return kivaControl_; }
  const Mica::DebugHandler& tracer() const noexcept { return *traceHandle_; }
  Blip::TraceHandle* blip() const noexcept { return kivaControl_.qtHandle; }
  const InputSmScanState& inputSmScanState() const { return *inputSmScanState_; }
  const OutputState& outputState() const { return *outputState_; }
  // "IePolicyToVniLaneSm" and "OrbInternetExit::IePolicyToVniLaneSm".
  const std::string& className() const noexcept { return className_; }
  const std::string& qualifiedName() const noexcept { return qualifiedName_; }
  size_t outputCount() const noexcept { return outputs_.size(); }
  const OutputBase& output(size_t i) const { return *outputs_[i]; }
  size_t inputCount() const noexcept { return inputs_.size(); }
  const InputArgSmBase& input(size_t i) const { return *inputs_[i]; }

  // Reports `n` units of work to the task running now, if any: a pipeline whose foreach fans
  // out over many elements counts them, so that the scheduler's budget sees the real size of
  // the run (the scan itself counts one unit per input element).
  void workDone(uint64_t n) const {
    if (!kivaControl_.taskScheduler) return;
    if (Keel::Task* task = kivaControl_.taskScheduler->currentTask()) task->taskWorkCountInc(n);
  }

  // ---- The scan element being visited (for walks a scan may cut, runtime/ResumableWalk.h) ----
  // Non-zero while a scan pass calls a pipeline for one element outside any reactor; the same
  // id when the pass visits that element again because a walk of the pipeline stopped early.
  uint64_t scanVisit() const noexcept { return scanVisit_.id; }
  // Whether the task of the scan being visited asks to yield (false outside a visit).
  bool scanVisitShouldYield() const;
  // A walk of the running pipeline stopped early: the scan yields at this element and visits
  // it again, with the same id, on its next run.
  void scanVisitCut() noexcept { scanVisit_.cut = scanVisit_.id != 0; }

  struct ScanVisit {
    uint64_t id = 0;
    const SourceBase* source = nullptr;
    bool cut = false;
  };
  // Internal to the runtime: a scan opens a visit around each pipeline call (ScanVisitScope),
  // and a reactor hides the visit it interrupts.
  ScanVisit scanVisitIs(ScanVisit visit) noexcept { return std::exchange(scanVisit_, visit); }
  uint64_t nextScanVisitId() noexcept { return ++lastScanVisitId_; }

  template <class... A>
  void trace(int level, fmt::format_string<A...> format, A&&... args) const {
    traceHandle_->trace(level, format, std::forward<A>(args)...);
  }

  // Internal to the runtime: input SMs and outputs call these.
  void pipelineScanIs(size_t pipeline, bool done);
  void handleOutputInputReady(OutputBase& output);
  void handleInitialScanDone();
  // Sets `output` ready, then lets the next output waiting for it reconcile.
  void outputReadyIs(const OutputBase& output);
  // Whether every output declared before `output` is ready.
  bool outputsReadyBefore(const OutputBase& output) const;

 protected:
  StateMachine(std::string_view nameSpace, std::string_view className, const SmControl& control);

  // Declarations, made by the derived constructor.
  void argIs(const char* accessor, const void* pointer, bool optional = false);
  size_t pipelineIs(std::string name);
  template <class T>
  T& inputIs(std::unique_ptr<T> input) {
    T& ref = *input;
    inputs_.push_back(std::move(input));
    return ref;
  }
  template <class T>
  T& outputIs(std::unique_ptr<T> output) {
    T& ref = *output;
    addOutput(std::move(output));
    return ref;
  }

 private:
  struct Arg {
    const char* accessor;
    const void* pointer;
    bool optional;
  };
  void addOutput(std::unique_ptr<OutputBase> output);
  void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override;

  std::string className_;
  std::string qualifiedName_;
  SmControl kivaControl_;
  Mica::Ptr<Mica::DebugHandler> traceHandle_;
  Mica::Ptr<InputSmScanState> inputSmScanState_;
  Mica::Ptr<OutputState> outputState_;
  std::vector<Arg> args_;
  std::vector<std::string> pipelines_;
  std::vector<std::unique_ptr<InputArgSmBase>> inputs_;
  std::vector<std::unique_ptr<OutputBase>> outputs_;
  ScanVisit scanVisit_;
  uint64_t lastScanVisitId_ = 0;
  bool synchronous_ = false;
  bool initialScanDone_ = false;
  bool initialized_ = false;
  bool subscribed_ = false;
};

}  // namespace Flo
