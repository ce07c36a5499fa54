# The data-path module benchmark (ratios in Module.ratios).
ie_add_benchmark(ModuleBench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ModuleBench.cpp LIBS ie_orb)
