# Run by CTest with cmake -P, in one of two modes (IE_MODE), each step fatal on failure.
#
# consumer (the default): the package as a user gets it from this build tree.
#   1. cmake --install the build tree into <work>/prefix (emptied first);
#   2. check the layout: the public headers and package files are there, internal headers not;
#   3. check that every installed header includes only installed headers, then compile each one
#      on its own against the prefix (tests/install/headers);
#   4. configure the consumer against that prefix only (no package registry, no build tree),
#      build it and run it; it must print "consumer: ok".
#
# library_only: a fresh build tree of the sources in which only the `InternetExit` target is
# built (the simulator is configured but not built); cmake --install must work from it, and
# install the package without the simulator.
#
# Inputs (-D): IE_MODE, IE_BUILD_DIR, IE_SOURCE_DIR, IE_CONSUMER_SOURCE_DIR,
# IE_HEADERS_SOURCE_DIR, IE_WORK_DIR, IE_CONFIG, IE_GENERATOR, IE_CXX_COMPILER, IE_SANITIZE.
cmake_minimum_required(VERSION 3.25)

if(NOT IE_MODE)
  set(IE_MODE consumer)
endif()
if(IE_MODE STREQUAL "consumer")
  set(required IE_BUILD_DIR IE_CONSUMER_SOURCE_DIR IE_HEADERS_SOURCE_DIR IE_WORK_DIR IE_GENERATOR
    IE_CXX_COMPILER)
elseif(IE_MODE STREQUAL "library_only")
  set(required IE_SOURCE_DIR IE_WORK_DIR IE_GENERATOR IE_CXX_COMPILER)
else()
  message(FATAL_ERROR "RunInstallTest.cmake: unknown IE_MODE ${IE_MODE}")
endif()
foreach(var IN LISTS required)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "RunInstallTest.cmake: ${var} is not set")
  endif()
endforeach()

set(prefix "${IE_WORK_DIR}/prefix")
file(REMOVE_RECURSE "${prefix}")
file(MAKE_DIRECTORY "${IE_WORK_DIR}")

function(run_step name)
  message(STATUS "install test: ${name}")
  execute_process(COMMAND ${ARGN}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE out
    ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "install test: ${name} failed (${result}):\n${out}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

# Fails unless every path of `paths` exists (EXISTS) or none does (ABSENT) under the prefix.
function(check_installed how)
  set(wrong "")
  foreach(path IN LISTS ARGN)
    if(EXISTS "${prefix}/${path}")
      set(present TRUE)
    else()
      set(present FALSE)
    endif()
    if((how STREQUAL "EXISTS" AND NOT present) OR (how STREQUAL "ABSENT" AND present))
      list(APPEND wrong "${path}")
    endif()
  endforeach()
  if(wrong)
    list(JOIN wrong "\n  " text)
    if(how STREQUAL "EXISTS")
      message(FATAL_ERROR "install test: not installed:\n  ${text}")
    else()
      message(FATAL_ERROR "install test: installed, but internal to the library:\n  ${text}")
    endif()
  endif()
endfunction()

set(package_files
  "lib/cmake/InternetExit/InternetExitConfig.cmake"
  "lib/cmake/InternetExit/InternetExitConfigVersion.cmake"
  "lib/cmake/InternetExit/InternetExitTargets.cmake")
# The one header per unit, and what the state-machine headers declare their outputs with.
set(public_headers
  "include/InternetExit/InternetExit.h"
  "include/InternetExit/Orb/InternetExitAssembly.h"
  "include/InternetExit/Orb/OrbInternetExitStatusSm.h"
  "include/InternetExit/Orb/OrbInternetExitUtil.h"
  "include/InternetExit/Orb/OrbSiEdgeHelper.h"
  "include/InternetExit/Orb/OrbSiEdgeModule.h"
  "include/InternetExit/platform/keel/Task.h"
  "include/InternetExit/platform/module/DataPathModel.h"
  "include/InternetExit/proto/orb.pb.h"
  "include/InternetExit/runtime/Output.h")
# Headers used only by the library's own sources.
set(internal_headers
  "include/InternetExit/runtime/InputSm.h"
  "include/InternetExit/runtime/Operators.h"
  "include/InternetExit/runtime/internal"
  "include/InternetExit/platform/mica/NodePool.h"
  "include/InternetExit/platform/trace/Duolog.h"
  "include/InternetExit/Orb/OrbInternetExitUtil/UtilTrace.h"
  "include/InternetExit/Orb/OrbSiEdgeHelper/TrackerSupport.h"
  "include/InternetExit/proto/scenario.pb.h")

set(config_args "")
if(IE_CONFIG)
  set(config_args --config "${IE_CONFIG}")
endif()
set(build_type "${IE_CONFIG}")
if(NOT build_type)
  set(build_type Release)
endif()

if(IE_MODE STREQUAL "library_only")
  # Built without optimisation or debug information, eight sources to a unit: only what gets
  # built and installed matters.
  set(library_build "${IE_WORK_DIR}/build")
  run_step("configure the library alone"
    "${CMAKE_COMMAND}" -S "${IE_SOURCE_DIR}" -B "${library_build}"
      -G "${IE_GENERATOR}"
      "-DCMAKE_CXX_COMPILER=${IE_CXX_COMPILER}"
      -DCMAKE_BUILD_TYPE=Debug
      -DCMAKE_CXX_FLAGS_DEBUG=-O0
      -DCMAKE_UNITY_BUILD=ON
      -DIE_BUILD_TESTS=OFF -DIE_BUILD_BENCH=OFF -DIE_BUILD_TOOLS=ON -DIE_SANITIZE=OFF)
  run_step("build the InternetExit target only"
    "${CMAKE_COMMAND}" --build "${library_build}" --target InternetExit --parallel 2)
  if(EXISTS "${library_build}/tools/iesim/iesim")
    message(FATAL_ERROR "install test: building InternetExit also built the simulator")
  endif()
  run_step("cmake --install the library alone into ${prefix}"
    "${CMAKE_COMMAND}" --install "${library_build}" --prefix "${prefix}")
  check_installed(EXISTS ${package_files} ${public_headers} "lib/libInternetExit.so")
  check_installed(ABSENT ${internal_headers} "bin/iesim")
  message(STATUS "install test: the library alone installs")
  return()
endif()

run_step("cmake --install into ${prefix}"
  "${CMAKE_COMMAND}" --install "${IE_BUILD_DIR}" --prefix "${prefix}" ${config_args})
check_installed(EXISTS ${package_files} ${public_headers})
check_installed(ABSENT ${internal_headers})

# Every quoted include of an installed header names an installed header. Angle-bracket includes
# are the standard library's and the dependencies'.
set(include_root "${prefix}/include/InternetExit")
file(GLOB_RECURSE installed_headers RELATIVE "${include_root}" "${include_root}/*.h")
set(dangling "")
foreach(header IN LISTS installed_headers)
  file(STRINGS "${include_root}/${header}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" included "${line}")
    if(NOT EXISTS "${include_root}/${included}")
      list(APPEND dangling "${header} includes ${included}")
    endif()
  endforeach()
endforeach()
if(dangling)
  list(JOIN dangling "\n  " text)
  message(FATAL_ERROR "install test: installed headers include headers that are not installed:\n  ${text}")
endif()

# The consumer and the header check are built like the library: same compiler, and under the
# sanitizers when the library was (an ASan plug-in can only be loaded by an ASan program).
set(consumer_flags "")
if(IE_SANITIZE)
  set(consumer_flags
    "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-omit-frame-pointer"
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined")
endif()
find_program(ccache ccache)
if(ccache)
  list(APPEND consumer_flags "-DCMAKE_CXX_COMPILER_LAUNCHER=${ccache}")
endif()
set(against_prefix_only
  -G "${IE_GENERATOR}"
  "-DCMAKE_CXX_COMPILER=${IE_CXX_COMPILER}"
  "-DCMAKE_BUILD_TYPE=${build_type}"
  "-DCMAKE_PREFIX_PATH=${prefix}"
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF
  ${consumer_flags})

set(headers_build "${IE_WORK_DIR}/headers")
file(REMOVE_RECURSE "${headers_build}")
# The headers consumers include: the public ones, relative to the include folder, separated by
# commas (a list's semicolons would split the argument).
list(TRANSFORM public_headers REPLACE "^include/InternetExit/" "" OUTPUT_VARIABLE consumer_headers)
list(JOIN consumer_headers "," consumer_headers)
run_step("configure the header check"
  "${CMAKE_COMMAND}" -S "${IE_HEADERS_SOURCE_DIR}" -B "${headers_build}" ${against_prefix_only}
    "-DIE_HEADERS=${consumer_headers}")
run_step("compile each installed header on its own"
  "${CMAKE_COMMAND}" --build "${headers_build}" --parallel 2)

set(consumer_build "${IE_WORK_DIR}/consumer")
file(REMOVE_RECURSE "${consumer_build}")
run_step("configure the consumer"
  "${CMAKE_COMMAND}" -S "${IE_CONSUMER_SOURCE_DIR}" -B "${consumer_build}" ${against_prefix_only})
if(NOT step_output MATCHES "InternetExit found in ([^\n]*)")
  message(FATAL_ERROR "install test: the consumer did not report where it found the package:\n${step_output}")
endif()
file(REAL_PATH "${CMAKE_MATCH_1}" found_dir)
file(REAL_PATH "${prefix}" real_prefix)
string(FIND "${found_dir}" "${real_prefix}/" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "install test: InternetExit was found in ${found_dir}, not under ${real_prefix}")
endif()

run_step("build the consumer" "${CMAKE_COMMAND}" --build "${consumer_build}")
run_step("run the consumer" "${consumer_build}/ie_consumer")
if(NOT step_output MATCHES "consumer: ok")
  message(FATAL_ERROR "install test: the consumer did not report success:\n${step_output}")
endif()
message(STATUS "install test: ${step_output}")
