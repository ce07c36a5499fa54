#include "platform/engine/OrbCommonSmData.h"

// The module must be complete wherever a Ptr<Module> is released.
#include "platform/module/Module.h"

namespace Orb {

OrbCommonSmData::OrbCommonSmData() = default;
OrbCommonSmData::~OrbCommonSmData() = default;

void OrbCommonSmData::internetExitModuleIs(Mica::Ptr<Module> module) {
  internetExitModule.set(*this, std::move(module));
}

void OrbCommonSmData::checkInvariants() const {
  l3Intf.checkInvariants();
  defaultRoutePresentInVrf.checkInvariants();
  if (const auto& info = vxlanInfo.get()) info->checkInvariants();
}

void OrbCommonSmData::dumpState(const Mica::Ptr<const Keel::DumpContext>& ctx,
                                unsigned indentCount) const {
  const int at = static_cast<int>(indentCount);
  const int inner = at + 2;
  Keel::_objDumpPrintf(ctx, "%*sInternetExitModule: %s\n", at, "",
                       internetExitModule.get() ? "present" : "absent");
  Keel::_objDumpPrintf(ctx, "%*sL3Intf: #%zu\n", at, "", l3Intf.size());
  for (const auto& [intf, entity] : l3Intf) {
    Keel::_objDumpPrintf(ctx, "%*sIntf: %s\n", inner, "", intf.name().c_str());
  }
  Keel::_objDumpPrintf(ctx, "%*sDefaultRoutePresentInVrf: #%zu\n", at, "",
                       defaultRoutePresentInVrf.size());
  for (const Kiln::VrfId vrf : defaultRoutePresentInVrf) {
    Keel::_objDumpPrintf(ctx, "%*sVrfId: %u\n", inner, "", vrf.value());
  }
  if (const auto& info = vxlanInfo.get()) {
    Keel::_objDumpPrintf(ctx, "%*sVxlanInfo:\n", at, "");
    info->dumpState(ctx, indentCount + 2);
  } else {
    Keel::_objDumpPrintf(ctx, "%*sVxlanInfo: absent\n", at, "");
  }
}

}  // namespace Orb
