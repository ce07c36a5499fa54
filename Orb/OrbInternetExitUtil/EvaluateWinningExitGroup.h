// evaluateWinningExitGroup: the exit group that a policy uses now.
#pragma once

#include "platform/mica/Node.h"
#include "types/GroupVniLaneKey.h"
#include "types/IeExitGroupDir.h"
#include "types/IeStatusConfigDir.h"

namespace OrbInternetExit {

// The group of the lowest sequence number of `policyStatusConfig` whose status in `exitGroupDir`
// (under exactly that key: name and pair) has a non-empty result map; GroupVniLaneKey() when
// there is none. Stateless: the choice is made from scratch on every call. Both pointers must be
// non-null.
//
// Writes level-5 traces through "OrbInternetExitUtil" (Duolog: the Blip ring and the text
// trace): one per entry visited, one per status found (its result count), and
// "::evaluateWinningExitGroup: Default return" when no group wins. The sequence number is
// printed in fixed-point form with six decimals (fmt "{:f}": 10 prints "10.000000", 1.5
// "1.500000"), so that a reader sees it is a floating-point number, not an integer.
GroupVniLaneKey evaluateWinningExitGroup(const Mica::Ptr<const PolicyStatusConfig>& policyStatusConfig,
                                         const Mica::Ptr<const IeExitGroupDir>& exitGroupDir);

}  // namespace OrbInternetExit
