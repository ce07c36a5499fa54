// The gate and exit-interface helpers: how the state machines reach the InternetExit module.
//
// Each helper reads orbcsd->internetExitModule and forwards one request to it. The module is used
// only if its class is Orb::InternetExit or derives from it (an Orb::SiEdge qualifies); an empty
// attribute or a module of any other class counts as absent. The module is held by a counted
// reference for the duration of the call.
//
// Without a module, createOrFetchGateId and removeGateId write one level-5 trace through
// "OrbInternetExitUtil" and one Blip record naming the interface, "Internet-exit module is
// disabled", and return their failure value; ieUpdateLaneIntf returns false silently.
//
// REQUIRES (each helper): orbcsd is not null (else the assertion "orbcsd").
#pragma once

#include <cstdint>

#include "platform/agents/VniAndLaneId.h"
#include "platform/engine/IntfId.h"
#include "platform/engine/OrbCommonSmData.h"
#include "platform/mica/Node.h"
#include "types/ExitIntfResult.h"

namespace OrbInternetExit {

// The module's assignGate(intfId), unchanged; ExitIntfResult::noGate (0xFFFFFFFF) without a
// module.
uint32_t createOrFetchGateId(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd,
                             const Wire::IntfId& intfId);

// The module's releaseGate(intfId), unchanged; false without a module.
bool removeGateId(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd, const Wire::IntfId& intfId);

// The module's ieUpdateLaneExitInfo(vniAndLane, exitIntf, add): true once the command is queued.
// False, with no trace and nothing queued, without a module.
bool ieUpdateLaneIntf(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd,
                      Lane::VniAndLaneId vniAndLane, const ExitIntfResult& exitIntf, bool add);

}  // namespace OrbInternetExit
