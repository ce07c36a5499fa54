#pragma once
#include "platform/mica/Node.h"
#include "types/IeExitGroupDir.h"
#include "types/IeStatusConfigDir.h"
namespace OrbInternetExit {
GroupVniLaneKey evaluateWinningExitGroup(const Mica::Ptr<const PolicyStatusConfig>& policyStatusConfig,
                                         const Mica::Ptr<const IeExitGroupDir>& exitGroupDir);
}
