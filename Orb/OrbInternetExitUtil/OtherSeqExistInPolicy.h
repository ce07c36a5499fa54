// otherSeqExistInPolicy: whether a policy still lists a group at another sequence number.
#pragma once

#include "platform/mica/Node.h"
#include "types/GroupVniLaneKey.h"
#include "types/IeStatusConfigDir.h"

namespace OrbInternetExit {

// True when `policyStatusConfig` lists `groupKey` at a sequence number other than `seqNo`
// (ordinary floating-point equality); false for a null policy. Walks the entries in ascending
// sequence-number order and writes one level-5 trace through "OrbInternetExitUtil" (Duolog: the
// Blip ring and the text trace) when the policy is not null.
bool otherSeqExistInPolicy(const Mica::Ptr<const PolicyStatusConfig>& policyStatusConfig, double seqNo,
                           const GroupVniLaneKey& groupKey);

}  // namespace OrbInternetExit
