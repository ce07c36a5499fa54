#include "Orb/OrbSiEdgeHelper/DefaultRoutePresent.h"

#include <fmt/format.h>

#include <string>

namespace OrbL3Unicast {

// "%*c" prints its character even at width 0, hence the unpadded form of the first line at
// indent 0. Member lines are indented by at least two blanks.

void DefaultRoutePresentInVni::dumpState(const Mica::Ptr<const Keel::DumpContext>& dumpCtx,
                                         unsigned indentCount) const {
  const auto count = static_cast<unsigned>(defaultRoute.size());
  if (indentCount == 0) {
    Keel::_objDumpPrintf(dumpCtx, "NumberOfVni: #%u\n", count);
  } else {
    Keel::_objDumpPrintf(dumpCtx, "%*cNumberOfVni: #%u\n", static_cast<int>(indentCount), ' ',
                         count);
  }
  const int memberIndent = static_cast<int>(indentCount) + 2;
  for (const Lane::VniId vni : defaultRoute) {
    const std::string text = fmt::format("{}", vni);
    Keel::_objDumpPrintf(dumpCtx, "%*cVni: %s\n", memberIndent, ' ', text.c_str());
  }
}

void DefaultRoutePresentForVniLane::dumpState(const Mica::Ptr<const Keel::DumpContext>& dumpCtx,
                                              unsigned indentCount) const {
  const auto count = static_cast<unsigned>(defaultRoute.size());
  if (indentCount == 0) {
    Keel::_objDumpPrintf(dumpCtx, "NumberOfVniLane: #%u\n", count);
  } else {
    Keel::_objDumpPrintf(dumpCtx, "%*cNumberOfVniLane: #%u\n", static_cast<int>(indentCount),
                         ' ', count);
  }
  const int memberIndent = static_cast<int>(indentCount) + 2;
  for (const Lane::VniAndLaneId pair : defaultRoute) {
    const std::string text = fmt::format("{}", pair);
    Keel::_objDumpPrintf(dumpCtx, "%*cVniLane: %s\n", memberIndent, ' ', text.c_str());
  }
}

Mica::Ptr<DefaultRoutePresentInVni> defaultRoutePresentInVniFactory() {
  return Mica::make<DefaultRoutePresentInVni>();
}

Mica::Ptr<DefaultRoutePresentForVniLane> defaultRoutePresentForVniLaneFactory() {
  return Mica::make<DefaultRoutePresentForVniLane>();
}

}  // namespace OrbL3Unicast
