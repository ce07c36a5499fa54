#include "platform/engine/VxlanInfo.h"

#include <fmt/format.h>

#include <string>

namespace Orb {

void VxlanInfo::dumpState(const Mica::Ptr<const Keel::DumpContext>& ctx,
                          unsigned indentCount) const {
  const int at = static_cast<int>(indentCount);
  const int inner = at + 2;
  Keel::_objDumpPrintf(ctx, "%*sVrfIdToVni: #%zu\n", at, "", vrfIdToVniMap.size());
  for (const auto& [vrf, vni] : vrfIdToVniMap) {
    const std::string text = fmt::format("{}", vni);
    Keel::_objDumpPrintf(ctx, "%*sVrfId: %u Vni: %s\n", inner, "", vrf.value(), text.c_str());
  }
  Keel::_objDumpPrintf(ctx, "%*sVrfToVni: #%zu\n", at, "", vrfToVniMap.size());
  for (const auto& [name, vni] : vrfToVniMap) {
    const std::string text = fmt::format("{}", vni);
    Keel::_objDumpPrintf(ctx, "%*sVrfName: %s Vni: %s\n", inner, "", name.c_str(), text.c_str());
  }
}

}  // namespace Orb
