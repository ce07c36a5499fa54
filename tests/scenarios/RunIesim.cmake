# Runs iesim and checks its exit status and output (stdout and stderr together).
#
#   cmake -DIESIM=<path> -DARGS=<args separated by |> -DEXPECT_EXIT=<status>
#         [-DEXPECT_OUTPUT=<regex>] [-DREJECT_OUTPUT=<regex>] [-DEXPECT_FILE=<golden file>]
#         -P RunIesim.cmake
#
# REJECT_OUTPUT: the output must not match the regex.
# With EXPECT_FILE, stdout must equal the file's content exactly; a mismatch prints a unified
# diff. IESIM_UPDATE_GOLDEN=1 in the environment rewrites the file from the output instead.
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND "${IESIM}" ${args}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(all "${out}${err}")
if(NOT status STREQUAL "${EXPECT_EXIT}")
  message(FATAL_ERROR "iesim ${args}: exit status ${status}, expected ${EXPECT_EXIT}\n${all}")
endif()
if(DEFINED EXPECT_OUTPUT AND NOT all MATCHES "${EXPECT_OUTPUT}")
  message(FATAL_ERROR "iesim ${args}: output does not match \"${EXPECT_OUTPUT}\":\n${all}")
endif()
if(DEFINED REJECT_OUTPUT AND all MATCHES "${REJECT_OUTPUT}")
  message(FATAL_ERROR "iesim ${args}: output matches \"${REJECT_OUTPUT}\":\n${all}")
endif()
if(DEFINED EXPECT_FILE)
  if("$ENV{IESIM_UPDATE_GOLDEN}" STREQUAL "1")
    file(WRITE "${EXPECT_FILE}" "${out}")
    message(STATUS "rewrote ${EXPECT_FILE}")
    return()
  endif()
  file(READ "${EXPECT_FILE}" expected)
  if(NOT out STREQUAL expected)
    get_filename_component(name "${EXPECT_FILE}" NAME)
    set(actual "${CMAKE_CURRENT_BINARY_DIR}/${name}.actual")
    file(WRITE "${actual}" "${out}")
    list(JOIN args " " command)
    message("iesim ${command}\noutput differs from the golden file (- expected, + actual):")
    execute_process(COMMAND diff -u --label "${EXPECT_FILE}" --label actual "${EXPECT_FILE}" "${actual}")
    message(FATAL_ERROR "${err}If the change is intended, rewrite the golden files:\n"
      "  IESIM_UPDATE_GOLDEN=1 ctest --test-dir build/dev -R '^iesim\\.(trace|explain)\\.'")
  endif()
endif()
