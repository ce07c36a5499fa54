#include "platform/module/ModuleConfig.h"

#include <google/protobuf/message.h>

#include <utility>

#include "platform/mica/Assert.h"

namespace Orb {

ModuleCmdBase::ModuleCmdBase(Mica::String moduleName, Mica::String cmdName,
                             google::protobuf::Message* arg, bool ownsArg) noexcept
    : moduleName_(std::move(moduleName)), cmdName_(std::move(cmdName)), arg_(arg), ownsArg_(ownsArg) {}

ModuleCmdBase::~ModuleCmdBase() {
  if (ownsArg_) delete arg_;
}

Mica::Ptr<ModuleCmdBase> moduleCmdFactory(Mica::String moduleName, Mica::String cmdName,
                                          google::protobuf::Message* arg, bool ownsArg) {
  return Mica::make<ModuleCmdBase>(std::move(moduleName), std::move(cmdName), arg, ownsArg);
}

void ModuleConfig::cmdBatchEnq(const Mica::Ptr<ModuleCmdBase>& cmd) {
  Mica::check(cmd != nullptr, "cmd");
  pending_.push_back(cmd);
  ++enqueued_;
  notify(cmdBatchId, nullptr, nullptr);
}

void ModuleConfig::batchTake(CmdQueue& batch) {
  batch.clear();
  batch.swap(pending_);
}

ModuleConfigStatusPair::ModuleConfigStatusPair()
    : ModuleConfigStatusPair(Mica::make<ModuleConfig>(), Mica::make<ModuleStatus>()) {}

ModuleConfigStatusPair::ModuleConfigStatusPair(Mica::Ptr<ModuleConfig> config,
                                               Mica::Ptr<ModuleStatus> status) noexcept
    : config_(std::move(config)), status_(std::move(status)) {}

}  // namespace Orb
