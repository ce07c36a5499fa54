# Tests of the data-path modules and the gate helpers (OrbSiEdgeModule, OrbInternetExitUtil's
# gate helpers). Include from tests/Orb/CMakeLists.txt; needs ie_orb with IE_MODULE_SOURCES.
ie_add_test_executable(orb_module_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/OrbSiEdgeModuleTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GateHelpersTest.cpp
  LIBS ie_orb)
target_include_directories(orb_module_tests PRIVATE ${PROJECT_SOURCE_DIR})
