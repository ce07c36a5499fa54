#include "Orb/OrbInternetExitUtil/OtherSeqExistInPolicy.h"

#include "platform/trace/Duolog.h"

namespace OrbInternetExit {

namespace {
const Mica::DebugHandler& utilTrace() {
  static const Mica::Ptr<Mica::DebugHandler> handler = Mica::Platform::getDebugHandler("OrbInternetExitUtil");
  return *handler;
}
constexpr int kUtilLevel = 5;
}  // namespace

bool otherSeqExistInPolicy(const Mica::Ptr<const PolicyStatusConfig>& policyStatusConfig, double seqNo,
                           const GroupVniLaneKey& groupKey) {
  if (!policyStatusConfig) return false;
  for (const auto& [entrySeqNo, entry] : policyStatusConfig->exitGroup) {
    if (entrySeqNo == seqNo) continue;
    if (entry->exitGroup.get() == groupKey) {
      Mica::Duolog::trace(Blip::defaultHandle(), utilTrace(), kUtilLevel,
                          "::otherSeqExistInPolicy: %s exist as seqNo %s in policy %s", groupKey, entrySeqNo,
                          policyStatusConfig->policyKey());
      return true;
    }
  }
  Mica::Duolog::trace(Blip::defaultHandle(), utilTrace(), kUtilLevel,
                      "::otherSeqExistInPolicy: no other %s exist in policy %s", groupKey,
                      policyStatusConfig->policyKey());
  return false;
}

}  // namespace OrbInternetExit
