# The status chain's benchmarks: IePolicyToVniLaneSm -> IeStatusConfigSm -> IeGroupToPolicySm
# (ratios in StatusChain.ratios).
ie_add_benchmark(StatusChainBench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/StatusChainBench.cpp ${CMAKE_CURRENT_LIST_DIR}/StatusChainFixture.cpp
  LIBS ie_orb)
# Alone in its process: it replaces operator new to count bytes and allocations.
ie_add_benchmark(StatusChainMemoryBench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/StatusChainMemoryBench.cpp ${CMAKE_CURRENT_LIST_DIR}/StatusChainFixture.cpp
          ${CMAKE_CURRENT_LIST_DIR}/CountingAllocator.cpp
  LIBS ie_orb)
