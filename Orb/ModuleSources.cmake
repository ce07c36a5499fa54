# Sources of the data-path modules (OrbSiEdgeModule) and the gate helpers of OrbInternetExitUtil,
# for the ie_orb library and the plug-in. They need the module framework: link ie_module.
set(IE_MODULE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/OrbSiEdgeModule.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrbInternetExitUtil/GateHelpers.cpp)
