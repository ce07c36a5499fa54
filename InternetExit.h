// The internet-exit library: everything an agent needs to embed it.
//
// The agent creates its input entities (lane status, configuration, the engine's common state,
// connection status, the service resolver's directories), hands them with one SmControl to an
// OrbInternetExit::InternetExitAssembly, calls startAll() and runs its scheduler. The assembly
// creates the library's outputs, the state machines and, when asked, the data-path modules.
#pragma once

#include "Orb/InternetExitAssembly.h"
#include "Orb/OrbInternetExitStatusSm.h"
#include "Orb/OrbInternetExitUtil.h"
#include "Orb/OrbSiEdgeHelper.h"
#include "Orb/OrbSiEdgeModule.h"
#include "platform/agents/LaneStatusDir.h"
#include "platform/agents/SiConnectionStatusDir.h"
#include "platform/agents/SvcInUseNotificationDir.h"
#include "platform/agents/SvcResolverDirs.h"
#include "platform/engine/OrbCommonSmData.h"
#include "platform/engine/VxlanInfo.h"
#include "platform/keel/Dump.h"
#include "platform/keel/Task.h"
#include "platform/module/ModuleConfig.h"
#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "runtime/SmControl.h"
#include "types/InternetExitCliConfig.h"
