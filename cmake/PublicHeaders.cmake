# The public headers: what an embedding agent includes, and everything those include. Only these
# are installed (under include/InternetExit, folders kept); the others stay with the sources.
# The install test compiles each installed header on its own against the install tree, so a
# public header that includes one missing from this list fails there.
#
# Paths are relative to the source root. The generated proto/orb.pb.h is installed beside them.
set(IE_PUBLIC_HEADERS
  # One header for the whole library.
  InternetExit.h

  # The assembly, and one header per unit with the headers it gathers.
  Orb/InternetExitAssembly.h
  Orb/OrbInternetExitStatusSm.h
  Orb/OrbInternetExitStatusSm/IeExitGroupStatusSm.h
  Orb/OrbInternetExitStatusSm/IeExitOptionStatusSm.h
  Orb/OrbInternetExitStatusSm/IeGroupToPolicySm.h
  Orb/OrbInternetExitStatusSm/IePolicyStatusSm.h
  Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h
  Orb/OrbInternetExitStatusSm/IeProgramDpSm.h
  Orb/OrbInternetExitStatusSm/IeRemoteSvcResolverRequestSm.h
  Orb/OrbInternetExitStatusSm/IeStatusConfigSm.h
  Orb/OrbInternetExitUtil.h
  Orb/OrbInternetExitUtil/EvaluateWinningExitGroup.h
  Orb/OrbInternetExitUtil/GateHelpers.h
  Orb/OrbInternetExitUtil/OtherSeqExistInPolicy.h
  Orb/OrbInternetExitUtil/ValidInterface.h
  Orb/OrbSiEdgeHelper.h
  Orb/OrbSiEdgeHelper/DefaultRoutePresent.h
  Orb/OrbSiEdgeHelper/VniDefaultRouteTracker.h
  Orb/OrbSiEdgeHelper/VniLaneDefaultRouteTracker.h
  Orb/OrbSiEdgeModule.h

  # The entities and value types the state machines read and write.
  types/ExitIntfResult.h
  types/ExitKey.h
  types/ExitType.h
  types/GroupVniLaneKey.h
  types/IeExitGroupDir.h
  types/IeExitOptionDir.h
  types/IeGroupToPolicyDir.h
  types/IePolicyDir.h
  types/IePolicyToVniLaneDir.h
  types/IeStatusConfigDir.h
  types/InternetExitCliConfig.h
  types/PolicyVniLaneKey.h

  # What a state machine is, how it runs (SmControl) and the outputs its header declares.
  runtime/LocalAttrStore.h
  runtime/Output.h
  runtime/Path.h
  runtime/PooledTree.h
  runtime/ResumableWalk.h
  runtime/ScanState.h
  runtime/SeenBatch.h
  runtime/SeenRanges.h
  runtime/SuccessorWindow.h
  runtime/SmControl.h
  runtime/StateMachine.h

  # The platform: entities, references and attributes; tasks and schedulers; dumps; traces; the
  # other agents' directories; the engine's common state; modules, their commands and the
  # data-path model that applies them (for an agent's tests).
  platform/mica/Assert.h
  platform/mica/CollBase.h
  platform/mica/Entity.h
  platform/mica/Node.h
  platform/mica/PoolAllocator.h
  platform/mica/Optional.h
  platform/mica/Publisher.h
  platform/mica/Strep.h
  platform/mica/String.h
  platform/mica/ThreadControl.h
  platform/keel/Dump.h
  platform/keel/Task.h
  platform/trace/Blip.h
  platform/trace/Trace.h
  platform/agents/LaneStatusDir.h
  platform/agents/SiConnectionStatusDir.h
  platform/agents/SvcInUseNotificationDir.h
  platform/agents/SvcResolverDirs.h
  platform/agents/VniAndLaneId.h
  platform/agents/VniLaneSvcGroupName.h
  platform/engine/IntfId.h
  platform/engine/L3Intf.h
  platform/engine/OrbCommonSmData.h
  platform/engine/VniExtOrNone.h
  platform/engine/VrfId.h
  platform/engine/VxlanInfo.h
  platform/module/DataPathModel.h
  platform/module/Module.h
  platform/module/ModuleConfig.h
  platform/module/SiModuleGateManager.h
)
