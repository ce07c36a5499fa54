#include "Orb/OrbInternetExitUtil/OtherSeqExistInPolicy.h"

#include "Orb/OrbInternetExitUtil/UtilTrace.h"
#include "platform/trace/Duolog.h"

namespace OrbInternetExit {

bool otherSeqExistInPolicy(const Mica::Ptr<const PolicyStatusConfig>& policyStatusConfig, double seqNo,
                           const GroupVniLaneKey& groupKey) {
  if (!policyStatusConfig) return false;
  for (const auto& [entrySeqNo, entry] : policyStatusConfig->exitGroup) {
    if (entrySeqNo == seqNo) continue;
    if (entry->exitGroup.get() == groupKey) {
      Mica::Duolog::trace(Blip::defaultHandle(), internal::utilTrace(), internal::kUtilTraceLevel,
                          "::otherSeqExistInPolicy: %s exist as seqNo %s in policy %s", groupKey, entrySeqNo,
                          policyStatusConfig->policyKey());
      return true;
    }
  }
  Mica::Duolog::trace(Blip::defaultHandle(), internal::utilTrace(), internal::kUtilTraceLevel,
                      "::otherSeqExistInPolicy: no other %s exist in policy %s", groupKey,
                      policyStatusConfig->policyKey());
  return false;
}

}  // namespace OrbInternetExit
