# Tests of the default-route trackers (OrbSiEdgeHelper).
# Include from tests/Orb/CMakeLists.txt; needs ie_orb with IE_SIEDGE_HELPER_SOURCES.
ie_add_test_executable(orb_siedge_helper_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/OrbSiEdgeHelperTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VniLaneDefaultRouteTrackerTest.cpp
  LIBS ie_orb)
target_include_directories(orb_siedge_helper_tests PRIVATE ${PROJECT_SOURCE_DIR})
