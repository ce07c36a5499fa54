# The chain benchmarks: the whole library through InternetExitAssembly (the InternetExit module and
# the ten state machines) and the data path's model (ratios in StatusChain.ratios).
ie_add_benchmark(StatusChainBench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/StatusChainBench.cpp ${CMAKE_CURRENT_LIST_DIR}/StatusChainFixture.cpp
          ${CMAKE_CURRENT_LIST_DIR}/GateCallCounter.cpp
  LIBS ie_orb)
# GateCallCounter.cpp counts the gate manager's calls through the linker's wrappers.
set(IE_GATE_MANAGER_CALLS
  _ZN3Orb19SiModuleGateManager10assignGateERKN4Mica3PtrINS_6ModuleEEERKN4Wire6IntfIdE
  _ZN3Orb19SiModuleGateManager11releaseGateERKN4Mica3PtrINS_6ModuleEEERKN4Wire6IntfIdE
  _ZN3Orb19SiModuleGateManager15releaseAllGatesERKN4Mica3PtrINS_6ModuleEEE)
foreach(symbol IN LISTS IE_GATE_MANAGER_CALLS)
  target_link_options(StatusChainBench PRIVATE "LINKER:--wrap=${symbol}")
endforeach()
# Alone in its process: it replaces operator new to count bytes and allocations.
ie_add_benchmark(StatusChainMemoryBench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/StatusChainMemoryBench.cpp ${CMAKE_CURRENT_LIST_DIR}/StatusChainFixture.cpp
          ${CMAKE_CURRENT_LIST_DIR}/CountingAllocator.cpp
  LIBS ie_orb)
