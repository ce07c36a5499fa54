#include "runtime/StateMachine.h"

#include "runtime/InputSm.h"
#include "runtime/Output.h"

namespace Flo {

StateMachine::StateMachine(std::string_view nameSpace, std::string_view className,
                           const SmControl& control)
    : className_(className),
      qualifiedName_(std::string(nameSpace) + "::" + std::string(className)),
      kivaControl_(control),
      traceHandle_(Mica::Platform::getDebugHandler(kDefaultTraceName)),
      inputSmScanState_(new InputSmScanState()),
      outputState_(new OutputState()) {}

StateMachine::~StateMachine() {
  // Input SMs and outputs unsubscribe and release their tasks; the outputs stay as they are.
  inputs_.clear();
  outputs_.clear();
  if (subscribed_) inputSmScanState_->subscriberRemove(this);
}

bool StateMachine::scanVisitShouldYield() const {
  return scanVisit_.source != nullptr && scanVisit_.source->shouldYield();
}

void StateMachine::argIs(const char* accessor, const void* pointer, bool optional) {
  args_.push_back(Arg{accessor, pointer, optional});
}

size_t StateMachine::pipelineIs(std::string name) {
  pipelines_.push_back(name);
  return inputSmScanState_->flagAdd(std::move(name) + "Scan");
}

void StateMachine::addOutput(std::unique_ptr<OutputBase> output) {
  output->attach(outputState_->flagAdd(output->name() + "Ready"));
  outputs_.push_back(std::move(output));
}

void StateMachine::handleInitialized() {
  if (initialized_) return;
  if (!kivaControl_.debugTraceName.empty()) {
    traceHandle_ = Mica::Platform::getDebugHandler(kivaControl_.debugTraceName.view());
  }
  if (kivaControl_.qtHandle == nullptr) kivaControl_.qtHandle = Blip::defaultHandle();
  synchronous_ = kivaControl_.synchronousMode == SmControl::synchronousModeOn;
  inputSmScanState_->subscriberAdd(this);
  subscribed_ = true;
  if (!synchronous_) {
    if (!kivaControl_.taskScheduler) {
      kivaControl_.taskScheduler = Keel::TaskSchedulerRoot::findOrCreateScheduler();
    }
    for (auto& o : outputs_) o->createTask();
  }
  for (const Arg& a : args_) {
    if (!a.optional && a.pointer == nullptr) {
      // The accessor leads the text, so the agent sees which argument was null.
      const std::string text =
          std::string(a.accessor) + " Pointer SM args cannot be null unless they are marked Optional";
      Mica::fail(text.c_str());
      return;
    }
  }
  for (auto& o : outputs_) o->initReconciling();
  trace(kLevelProgress, "create local SMs");
  trace(kLevelProgress, "create non-public arg SMs");
  for (auto& input : inputs_) input->start();
  trace(kLevelProgress, "initialized");
  initialized_ = true;
  for (auto& o : outputs_) o->handleInputReady();
}

void StateMachine::onNotification(Mica::AttrId attr, const void*, const void*) {
  // A `<pipeline>Scan` flag changed: re-evaluate the outputs that wait for it.
  if (attr == InputSmScanState::idleAttr) return;
  for (auto& o : outputs_) {
    if (o->waitsFor(attr)) o->handleInputReady();
  }
}

void StateMachine::pipelineScanIs(size_t pipeline, bool done) {
  if (done) {
    // A pipeline's scan is done when every source feeding it has completed its pass.
    for (auto& input : inputs_) {
      for (size_t i = 0; i < input->sourceCount(); ++i) {
        const SourceBase& s = input->source(i);
        if (s.pipeline() == pipeline && !s.inputScanComplete()) return;
      }
    }
  }
  inputSmScanState_->flagIs(pipeline, done);
}

void StateMachine::handleInitialScanDone() {
  if (initialScanDone_) return;
  for (size_t p = 0; p < pipelines_.size(); ++p) {
    if (!inputSmScanState_->flag(p)) {
      trace(kLevelProgress, " {} scan is false", pipelines_[p]);
      return;
    }
  }
  for (auto& input : inputs_) {
    if (!input->initialized()) {
      trace(kLevelProgress, "Initial scan yielding for child SM {}.", className_);
      return;
    }
  }
  trace(kLevelProgress, "Initial scan done for child SMs. Now scanning with events triggered.");
  initialScanDone_ = true;
  for (size_t p = 0; p < pipelines_.size(); ++p) inputSmScanState_->flagIs(p, false);
  for (auto& input : inputs_) input->doInputScan();
  inputSmScanState_->idleIs(true);
  for (auto& o : outputs_) o->handleInputReady();
}

void StateMachine::outputReadyIs(const OutputBase& output) {
  outputState_->outputReadyIs(output.readyIndex(), true);
  for (auto& o : outputs_) {
    if (!o->ready()) {
      o->handleInputReady();
      return;
    }
  }
}

bool StateMachine::outputsReadyBefore(const OutputBase& output) const {
  for (const auto& o : outputs_) {
    if (o.get() == &output) return true;
    if (!o->ready()) return false;
  }
  return true;
}

bool StateMachine::quietStart() const noexcept {
  if (traceHandle_->levelMask() != 0) return false;
  for (const auto& input : inputs_) {
    if (input->notifications() != 0) return false;
  }
  return true;
}

void StateMachine::doDeleteAll() {
  for (auto& input : inputs_) input->doDeleteAll();
}

void StateMachine::hasNotificationActiveIs(bool active) {
  if (active == subscribed_) return;
  if (active) {
    inputSmScanState_->subscriberAdd(this);
  } else {
    inputSmScanState_->subscriberRemove(this);
  }
  subscribed_ = active;
  for (auto& input : inputs_) input->subscriptionIs(active);
}

}  // namespace Flo
