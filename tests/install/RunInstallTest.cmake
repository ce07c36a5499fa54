# Run by CTest with cmake -P. Steps, each fatal on failure:
#   1. cmake --install the build tree into <work>/prefix (emptied first);
#   2. configure the consumer against that prefix only (no package registry, no build tree);
#   3. build it and run it; it must print "consumer: ok".
#
# Inputs (-D): IE_BUILD_DIR, IE_CONSUMER_SOURCE_DIR, IE_WORK_DIR, IE_CONFIG, IE_GENERATOR,
# IE_CXX_COMPILER, IE_SANITIZE.
cmake_minimum_required(VERSION 3.25)

foreach(var IE_BUILD_DIR IE_CONSUMER_SOURCE_DIR IE_WORK_DIR IE_GENERATOR IE_CXX_COMPILER)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "RunInstallTest.cmake: ${var} is not set")
  endif()
endforeach()

set(prefix "${IE_WORK_DIR}/prefix")
set(consumer_build "${IE_WORK_DIR}/consumer")
file(REMOVE_RECURSE "${IE_WORK_DIR}")
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

set(config_args "")
if(IE_CONFIG)
  set(config_args --config "${IE_CONFIG}")
endif()
run_step("cmake --install into ${prefix}"
  "${CMAKE_COMMAND}" --install "${IE_BUILD_DIR}" --prefix "${prefix}" ${config_args})

foreach(expected
    "include/InternetExit/platform/keel/Task.h"
    "lib/cmake/InternetExit/InternetExitConfig.cmake"
    "lib/cmake/InternetExit/InternetExitConfigVersion.cmake"
    "lib/cmake/InternetExit/InternetExitTargets.cmake")
  if(NOT EXISTS "${prefix}/${expected}")
    message(FATAL_ERROR "install test: ${expected} was not installed")
  endif()
endforeach()

# The consumer is built like the library: same compiler, and under the sanitizers when the
# library was (an ASan plug-in can only be loaded by an ASan program).
set(consumer_flags "")
if(IE_SANITIZE)
  set(consumer_flags
    "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-omit-frame-pointer"
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined")
endif()
set(build_type "${IE_CONFIG}")
if(NOT build_type)
  set(build_type Release)
endif()
run_step("configure the consumer"
  "${CMAKE_COMMAND}" -S "${IE_CONSUMER_SOURCE_DIR}" -B "${consumer_build}"
    -G "${IE_GENERATOR}"
    "-DCMAKE_CXX_COMPILER=${IE_CXX_COMPILER}"
    "-DCMAKE_BUILD_TYPE=${build_type}"
    "-DCMAKE_PREFIX_PATH=${prefix}"
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF
    ${consumer_flags})
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
