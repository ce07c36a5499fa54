// Orb::Module: the base of the forwarding engine's data-path modules.
//
// A module is a counted entity with a name, a module class, four gate counts and a
// configuration/status pair: the module queues its commands on the pair's configuration half
// (ModuleConfig::cmdBatchEnq) and the data path reports on its status half. The base interprets
// none of the gate counts; gate managers read them (SiModuleGateManager).
//
// Type tests. Each module class has one static TypeData, `kType`, naming its base class's, and
// overrides typeData() to return it. moduleCast<T>(m) answers whether m's dynamic class is T or
// derived from T by walking that chain, without RTTI. While a derived constructor runs the
// object still reports its base's type, as C++ virtual dispatch does.
//
// The module contract for derived classes (everything else is the framework's):
//   - typeData()   return the class's own kType;
//   - dumpState()  write what the module holds, in a fixed order, at the given indent.
//
// This header names no generated protobuf class, so that code of the engine's common state can
// hold and release modules without the generated messages.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/keel/Dump.h"
#include "platform/mica/Entity.h"
#include "platform/mica/String.h"
#include "platform/module/ModuleConfig.h"

namespace google::protobuf {
class Message;
}

namespace Orb {

namespace OrbModule {
// Role of a module in the software switch. Modules pass it through; nothing here reads it.
enum class ModuleClass : uint8_t {
  none = 0,
  ingress = 1,
  forwarding = 2,
  egress = 3,
};
}  // namespace OrbModule

// Identity of a module class: its name and its base class's identity (null for the root).
class TypeData {
 public:
  constexpr TypeData(const char* name, const TypeData* base) noexcept : name_(name), base_(base) {}
  TypeData(const TypeData&) = delete;
  TypeData& operator=(const TypeData&) = delete;

  constexpr const char* name() const noexcept { return name_; }
  constexpr const TypeData* base() const noexcept { return base_; }
  // Whether this class is `other` or derives from it.
  bool isA(const TypeData& other) const noexcept {
    for (const TypeData* t = this; t != nullptr; t = t->base_) {
      if (t == &other) return true;
    }
    return false;
  }

 private:
  const char* name_;
  const TypeData* base_;
};

class Module : public Mica::Entity {
 public:
  static constexpr TypeData kType{"Module", nullptr};

  // `initArg` is the module's initial configuration message; it may be null, and passes to the
  // module, which deletes it when it goes. `modulePair` may be null, or lack a half: commands sent to a module without
  // a configuration half are dropped by the sender.
  Module(Mica::String name, OrbModule::ModuleClass moduleClass, uint32_t maxInGate,
         uint32_t maxOutGate, uint32_t reservedInGate, uint32_t reservedOutGate,
         google::protobuf::Message* initArg, Mica::Ptr<ModuleConfigStatusPair> modulePair);
  ~Module() override;

  const Mica::String& name() const noexcept { return name_; }
  // Traces print a module as its name.
  const Mica::String& key() const noexcept { return name_; }
  OrbModule::ModuleClass moduleClass() const noexcept { return moduleClass_; }
  uint32_t maxInGate() const noexcept { return maxInGate_; }
  uint32_t maxOutGate() const noexcept { return maxOutGate_; }
  uint32_t reservedInGate() const noexcept { return reservedInGate_; }
  uint32_t reservedOutGate() const noexcept { return reservedOutGate_; }
  const Mica::Ptr<ModuleConfigStatusPair>& modulePair() const noexcept { return modulePair_; }
  const google::protobuf::Message* initArg() const noexcept { return initArg_.get(); }
  // Unique in the process, increasing in creation order; never reused (unlike an address).
  uint64_t serial() const noexcept { return serial_; }

  // The dynamic class of this object.
  virtual const TypeData& typeData() const { return kType; }
  // Writes the module's state at `indent` blanks. The base writes "Module <name>".
  virtual void dumpState(const Mica::Ptr<const Keel::DumpContext>& ctx, unsigned indent) const;

 private:
  const Mica::String name_;
  const OrbModule::ModuleClass moduleClass_;
  const uint32_t maxInGate_;
  const uint32_t maxOutGate_;
  const uint32_t reservedInGate_;
  const uint32_t reservedOutGate_;
  const std::unique_ptr<google::protobuf::Message> initArg_;
  const Mica::Ptr<ModuleConfigStatusPair> modulePair_;
  const uint64_t serial_;
};

// `module` as a T when its dynamic class is T or derives from T; empty otherwise (also when
// `module` is empty). Cost: one virtual call and a walk of the class chain.
template <class T>
Mica::Ptr<T> moduleCast(const Mica::Ptr<Module>& module) noexcept {
  if (!module || !module->typeData().isA(T::kType)) return nullptr;
  return Mica::ptrCast<T>(module);
}

// The generic dump of a child attribute named `name`: the child's own dumpState at `indent`
// when present, "<indent blanks><name>: none" when empty. T has a dumpState like Module's.
template <class T>
void dumpChild(const Mica::Ptr<const Keel::DumpContext>& ctx, const char* name, const T* child,
               unsigned indent) {
  if (child != nullptr) {
    child->dumpState(ctx, indent);
  } else {
    Keel::_objDumpPrintf(ctx, "%*s%s: none\n", static_cast<int>(indent), "", name);
  }
}

}  // namespace Orb
