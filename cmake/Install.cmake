# Install rules and the CMake package, so that an agent's build can write
#
#   find_package(InternetExit 0.1 REQUIRED)
#   target_link_libraries(agent PRIVATE InternetExit::InternetExit)
#
# Layout under the prefix:
#   include/InternetExit/InternetExit.h                     the one header for the whole library
#   include/InternetExit/{platform,runtime,types,Orb}/...   the public headers, folders kept
#   include/InternetExit/proto/orb.pb.h                     messages generated at build time
#   lib/libInternetExit.so                                  the plug-in
#   lib/lib<static>.a                                       the static libraries it links
#   lib/cmake/InternetExit/                                 InternetExitConfig.cmake, version, targets
#   bin/iesim                                               the simulator, when it is built
#
# The public headers are listed in cmake/PublicHeaders.cmake; the others are not installed.
#
# Included from the root CMakeLists.txt after every target exists. Nothing is installed until the
# plug-in target `InternetExit` exists, and every other target is looked up, never assumed, so the
# tree configures at any stage of its growth.
#
# Everything installed is built by the `InternetExit` target, so `cmake --install` works after
# building that target alone; the simulator is installed only when it has been built.

include(CMakePackageConfigHelpers)
include("${CMAKE_CURRENT_LIST_DIR}/PublicHeaders.cmake")

set(IE_INSTALL_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}/InternetExit")
set(IE_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/InternetExit")

# Resolves one entry of a target's link list to the library targets it names. Unwraps
# $<LINK_ONLY:x> and $<LINK_LIBRARY:FEATURE,x,y>, follows aliases, and drops everything else
# (plain flags, file paths, other generator expressions, directory markers "::@...").
function(_ie_link_item_targets item out_var)
  set(names "")
  if(item MATCHES "^\\$<LINK_ONLY:(.+)>$")
    set(names "${CMAKE_MATCH_1}")
  elseif(item MATCHES "^\\$<LINK_LIBRARY:[^,>]+,(.+)>$")
    string(REPLACE "," ";" names "${CMAKE_MATCH_1}")
  elseif(NOT item MATCHES "^(\\$<|::@|-)")
    set(names "${item}")
  endif()
  set(found "")
  foreach(name IN LISTS names)
    if(TARGET "${name}")
      get_target_property(aliased "${name}" ALIASED_TARGET)
      if(aliased)
        set(name "${aliased}")
      endif()
      list(APPEND found "${name}")
    endif()
  endforeach()
  set(${out_var} "${found}" PARENT_SCOPE)
endfunction()

# Collects into out_var the library targets of this project that `root` links, directly or
# through others: the set that must be installed and exported beside it. Imported targets
# (fmt, absl, protobuf) come from find_dependency in the package config instead.
function(_ie_collect_link_closure root out_var)
  set(pending "${root}")
  set(seen "")
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen "${current}")
    get_target_property(type "${current}" TYPE)
    set(links "")
    foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      if(type STREQUAL "INTERFACE_LIBRARY" AND prop STREQUAL "LINK_LIBRARIES")
        continue()
      endif()
      get_target_property(value "${current}" ${prop})
      if(value)
        list(APPEND links ${value})
      endif()
    endforeach()
    foreach(item IN LISTS links)
      _ie_link_item_targets("${item}" targets)
      foreach(t IN LISTS targets)
        get_target_property(imported "${t}" IMPORTED)
        get_target_property(ttype "${t}" TYPE)
        if(NOT imported AND ttype MATCHES "^(STATIC|SHARED|OBJECT|INTERFACE)_LIBRARY$")
          list(APPEND pending "${t}")
        endif()
      endforeach()
    endforeach()
  endwhile()
  list(REMOVE_ITEM seen "${root}")
  set(${out_var} "${seen}" PARENT_SCOPE)
endfunction()

if(TARGET InternetExit)
  _ie_collect_link_closure(InternetExit _ie_linked_libraries)

  # Exported names drop the internal "ie_" prefix: ie_platform becomes InternetExit::platform.
  foreach(_ie_lib IN LISTS _ie_linked_libraries)
    get_target_property(_ie_export_name "${_ie_lib}" EXPORT_NAME)
    if(NOT _ie_export_name AND _ie_lib MATCHES "^ie_(.+)$")
      set_target_properties("${_ie_lib}" PROPERTIES EXPORT_NAME "${CMAKE_MATCH_1}")
    endif()
  endforeach()

  install(TARGETS InternetExit ${_ie_linked_libraries}
    EXPORT InternetExitTargets
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
    OBJECTS DESTINATION "${CMAKE_INSTALL_LIBDIR}/InternetExit-objects"
    INCLUDES DESTINATION "${IE_INSTALL_INCLUDEDIR}")

  # The public headers, with their folder structure; include paths in the sources
  # ("platform/keel/Task.h") therefore stay valid against include/InternetExit.
  foreach(_ie_header IN LISTS IE_PUBLIC_HEADERS)
    if(NOT EXISTS "${PROJECT_SOURCE_DIR}/${_ie_header}")
      message(FATAL_ERROR "cmake/PublicHeaders.cmake lists ${_ie_header}, which does not exist")
    endif()
    get_filename_component(_ie_header_dir "${_ie_header}" DIRECTORY)
    install(FILES "${PROJECT_SOURCE_DIR}/${_ie_header}"
      DESTINATION "${IE_INSTALL_INCLUDEDIR}/${_ie_header_dir}")
  endforeach()

  # The data-path messages that OrbSiEdgeModule.h includes, generated when ie_proto is built.
  install(FILES "${PROJECT_BINARY_DIR}/proto/orb.pb.h"
    DESTINATION "${IE_INSTALL_INCLUDEDIR}/proto")

  install(EXPORT InternetExitTargets
    NAMESPACE InternetExit::
    DESTINATION "${IE_INSTALL_CMAKEDIR}")

  configure_package_config_file(
    "${PROJECT_SOURCE_DIR}/cmake/InternetExitConfig.cmake.in"
    "${PROJECT_BINARY_DIR}/cmake/InternetExitConfig.cmake"
    INSTALL_DESTINATION "${IE_INSTALL_CMAKEDIR}")
  # 0.x: a minor version may change the interface, so only the same minor version is compatible.
  write_basic_package_version_file(
    "${PROJECT_BINARY_DIR}/cmake/InternetExitConfigVersion.cmake"
    VERSION "${PROJECT_VERSION}"
    COMPATIBILITY SameMinorVersion)
  install(FILES
    "${PROJECT_BINARY_DIR}/cmake/InternetExitConfig.cmake"
    "${PROJECT_BINARY_DIR}/cmake/InternetExitConfigVersion.cmake"
    DESTINATION "${IE_INSTALL_CMAKEDIR}")

  # The simulator is not part of the library's build: skipped when it has not been built.
  if(TARGET iesim)
    install(TARGETS iesim RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" OPTIONAL)
  endif()
endif()
