// OrbInternetExitStatusSm: the eight internet-exit state machines and their factories.
// Each machine has its own header under Orb/OrbInternetExitStatusSm/, which describes its
// inputs, outputs and tasks; an agent that runs them all uses Orb/InternetExitAssembly.h instead.
#pragma once

#include "Orb/OrbInternetExitStatusSm/IeExitGroupStatusSm.h"
#include "Orb/OrbInternetExitStatusSm/IeExitOptionStatusSm.h"
#include "Orb/OrbInternetExitStatusSm/IeGroupToPolicySm.h"
#include "Orb/OrbInternetExitStatusSm/IePolicyStatusSm.h"
#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"
#include "Orb/OrbInternetExitStatusSm/IeProgramDpSm.h"
#include "Orb/OrbInternetExitStatusSm/IeRemoteSvcResolverRequestSm.h"
#include "Orb/OrbInternetExitStatusSm/IeStatusConfigSm.h"
