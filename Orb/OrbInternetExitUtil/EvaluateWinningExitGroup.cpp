#include "Orb/OrbInternetExitUtil/EvaluateWinningExitGroup.h"
namespace OrbInternetExit {
GroupVniLaneKey evaluateWinningExitGroup(const Mica::Ptr<const PolicyStatusConfig>& policyStatusConfig,
                                         const Mica::Ptr<const IeExitGroupDir>& exitGroupDir) {
  for (const auto& [seqNo, entry] : policyStatusConfig->exitGroup) {
    const auto* s = exitGroupDir->exitGroupStatus.lookup(entry->exitGroup.get());
    if (s && !s->result.empty()) return entry->exitGroup.get();
  }
  return GroupVniLaneKey();
}
}
