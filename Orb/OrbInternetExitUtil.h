// OrbInternetExitUtil: the free functions that the internet-exit state machines share.
// Each group of functions has its own header under Orb/OrbInternetExitUtil/.
#pragma once

#include "Orb/OrbInternetExitUtil/EvaluateWinningExitGroup.h"
#include "Orb/OrbInternetExitUtil/GateHelpers.h"
#include "Orb/OrbInternetExitUtil/OtherSeqExistInPolicy.h"
#include "Orb/OrbInternetExitUtil/ValidInterface.h"
