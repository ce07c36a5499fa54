#include "platform/module/Module.h"

#include <google/protobuf/message.h>

#include <utility>

namespace Orb {

namespace {
uint64_t nextSerial = 1;
}

Module::Module(Mica::String name, OrbModule::ModuleClass moduleClass, uint32_t maxInGate,
               uint32_t maxOutGate, uint32_t reservedInGate, uint32_t reservedOutGate,
               google::protobuf::Message* initArg, Mica::Ptr<ModuleConfigStatusPair> modulePair)
    : name_(std::move(name)),
      moduleClass_(moduleClass),
      maxInGate_(maxInGate),
      maxOutGate_(maxOutGate),
      reservedInGate_(reservedInGate),
      reservedOutGate_(reservedOutGate),
      initArg_(initArg),
      modulePair_(std::move(modulePair)),
      serial_(nextSerial++) {}

Module::~Module() = default;

void Module::dumpState(const Mica::Ptr<const Keel::DumpContext>& ctx, unsigned indent) const {
  Keel::_objDumpPrintf(ctx, "%*sModule %s\n", static_cast<int>(indent), "", name_.c_str());
}

}  // namespace Orb
