#include "runtime/InputSm.h"

namespace Flo {

SourceBase::~SourceBase() {
  if (task_) task_->publisher().subscriberRemove(this);
}

bool SourceBase::inputScanComplete() const noexcept {
  return state_ == ScanState::complete ||
         (state_ == ScanState::completeInitial && !sm().initialScanDone());
}

bool SourceBase::passDue() const {
  if (!arg_.initialized()) return false;
  sm().trace(kLevelProgress, " scan complete: {} resumed: {} scan: {}", inputScanComplete(),
             state_ == ScanState::yielded, sm().inputSmScanState().flag(pipeline_));
  if (state_ == ScanState::complete) return false;
  return state_ != ScanState::completeInitial || sm().initialScanDone();
}

void SourceBase::start() {
  StateMachine& machine = sm();
  if (machine.synchronous()) {
    doInputScan();
    return;
  }
  const SmControl& control = machine.kivaControl();
  std::string name = machine.qualifiedName() + "-" + arg_.name() + "InputScanTask" +
                     std::to_string(number_);
  // Creating the task runs the first pass at once.
  task_ = Mica::Ptr<Keel::Task>(
      new Keel::Task(control.taskScheduler, control.taskPriority, std::move(name), this));
}

void SourceBase::startPass() {
  if (sm().synchronous() || !task_) {
    doInputScan();
  } else {
    task_->scheduleTask();
  }
}

bool SourceBase::shouldYield() const {
  if (!task_ || arg_.inReactor()) return false;
  return task_->taskShouldYield();
}

void SourceBase::onNotification(Mica::AttrId attr, const void*, const void*) {
  if (attr != Keel::Task::runAttr) return;
  // The first run happens inside the task's constructor, before start() holds the task.
  if (!task_) task_ = Mica::Ptr<Keel::Task>(sm().kivaControl().taskScheduler->currentTask());
  doInputScan();
}

void SourceBase::yielded(uint64_t total) {
  state_ = ScanState::yielded;
  if (task_) {
    task_->taskWorkPendingIs(total);
    task_->scheduleTask();
  }
}

void SourceBase::completed() {
  StateMachine& machine = sm();
  std::string name = arg_.name();
  if (machine.initialScanDone()) {
    state_ = ScanState::complete;
    if (task_) {
      task_->publisher().subscriberRemove(this);
      task_ = nullptr;
    }
  } else {
    state_ = ScanState::completeInitial;
    name += " initial";
  }
  machine.pipelineScanIs(pipeline_, true);
  machine.trace(kLevelProgress, "{} scan, and parent scan, complete.", name);
}

InputArgSmBase::~InputArgSmBase() {
  sources_.clear();
  if (subscribed_) en_->subscriberRemove(this);
}

void InputArgSmBase::start() {
  for (auto& s : sources_) wantsDescendants_ = wantsDescendants_ || s->followsDescendants();
  if (en_) {
    en_->subscriberAdd(this);
    subscribed_ = true;
  }
  initialized_ = true;
  for (auto& s : sources_) s->start();
}

void InputArgSmBase::doInputScan() {
  sm_.trace(kLevelProgress, "{} doInputScan", name_);
  for (auto& s : sources_) s->startPass();
}

void InputArgSmBase::doDeleteAll() {
  for (auto& s : sources_) s->doDeleteAll();
}

void InputArgSmBase::subscriptionIs(bool on) { muted_ = !on; }

void InputArgSmBase::onNotification(Mica::AttrId attr, const void* key, const void* oldValue) {
  ++notifications_;
  if (muted_) return;
  // Sources reading the same collection are served in source-number order.
  for (auto& s : sources_) {
    if (s->attrId() == attr) s->onArgNotification(key, oldValue);
  }
}

void InputArgSmBase::onDescendantNotification(const Mica::Entity& source, Mica::AttrId attr,
                                              const void* key, const void* oldValue) {
  ++notifications_;
  for (auto& s : sources_) {
    if (s->followsDescendants()) s->onNestedNotification(source, attr, key, oldValue);
  }
}

}  // namespace Flo
