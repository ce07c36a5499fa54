// OrbSiEdgeHelper: the default-route trackers.
//
//   orbcsd.defaultRoutePresentInVrf ─┐
//   orbcsd.vxlanInfo.vrfIdToVniMap ──┴─> VniDefaultRouteTrackerSm ─> DefaultRoutePresentInVni
//                                                                          │
//   IePolicyToVniLaneDir.polToVniLane ──> VniLaneDefaultRouteTrackerSm <───┘
//                                                   │
//                                                   └─> DefaultRoutePresentForVniLane
//
// The agent creates both outputs with their factories, then each tracker with its factory,
// and keeps the returned references for as long as tracking is wanted. Both trackers run
// synchronously inside the writers' calls; a change of a VRF's default route reaches
// DefaultRoutePresentForVniLane before the write returns.
#pragma once

#include "Orb/OrbSiEdgeHelper/DefaultRoutePresent.h"
#include "Orb/OrbSiEdgeHelper/VniDefaultRouteTracker.h"
#include "Orb/OrbSiEdgeHelper/VniLaneDefaultRouteTracker.h"
