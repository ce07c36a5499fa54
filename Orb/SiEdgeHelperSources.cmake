# Sources of the default-route trackers (OrbSiEdgeHelper), for the ie_orb library and the plug-in.
set(IE_SIEDGE_HELPER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/OrbSiEdgeHelper/DefaultRoutePresent.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrbSiEdgeHelper/VniDefaultRouteTracker.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrbSiEdgeHelper/VniLaneDefaultRouteTracker.cpp)
