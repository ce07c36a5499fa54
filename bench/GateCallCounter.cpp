#include "bench/GateCallCounter.h"

#include "platform/module/Module.h"
#include "platform/module/SiModuleGateManager.h"

namespace {
uint64_t calls = 0;
using Manager = Orb::SiModuleGateManager;
using ModulePtr = Mica::Ptr<Orb::Module>;
}  // namespace

uint64_t IeBench::gateCalls() noexcept { return calls; }

// The wrappers and the real methods, under the names the linker gives them: a member function
// is called as a function whose first argument is `this`.
extern "C" {
uint32_t __real__ZN3Orb19SiModuleGateManager10assignGateERKN4Mica3PtrINS_6ModuleEEERKN4Wire6IntfIdE(
    Manager* self, const ModulePtr& module, const Wire::IntfId& intf);
bool __real__ZN3Orb19SiModuleGateManager11releaseGateERKN4Mica3PtrINS_6ModuleEEERKN4Wire6IntfIdE(
    Manager* self, const ModulePtr& module, const Wire::IntfId& intf);
void __real__ZN3Orb19SiModuleGateManager15releaseAllGatesERKN4Mica3PtrINS_6ModuleEEE(Manager* self,
                                                                                     const ModulePtr& module);

uint32_t __wrap__ZN3Orb19SiModuleGateManager10assignGateERKN4Mica3PtrINS_6ModuleEEERKN4Wire6IntfIdE(
    Manager* self, const ModulePtr& module, const Wire::IntfId& intf) {
  ++calls;
  return __real__ZN3Orb19SiModuleGateManager10assignGateERKN4Mica3PtrINS_6ModuleEEERKN4Wire6IntfIdE(self, module,
                                                                                                       intf);
}
bool __wrap__ZN3Orb19SiModuleGateManager11releaseGateERKN4Mica3PtrINS_6ModuleEEERKN4Wire6IntfIdE(
    Manager* self, const ModulePtr& module, const Wire::IntfId& intf) {
  ++calls;
  return __real__ZN3Orb19SiModuleGateManager11releaseGateERKN4Mica3PtrINS_6ModuleEEERKN4Wire6IntfIdE(self, module,
                                                                                                        intf);
}
void __wrap__ZN3Orb19SiModuleGateManager15releaseAllGatesERKN4Mica3PtrINS_6ModuleEEE(Manager* self,
                                                                                     const ModulePtr& module) {
  ++calls;
  __real__ZN3Orb19SiModuleGateManager15releaseAllGatesERKN4Mica3PtrINS_6ModuleEEE(self, module);
}
}
