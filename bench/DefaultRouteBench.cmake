# The default-route trackers' benchmark (ratios in DefaultRoute.ratios).
ie_add_benchmark(DefaultRouteBench SOURCES ${CMAKE_CURRENT_LIST_DIR}/DefaultRouteBench.cpp LIBS ie_orb)
