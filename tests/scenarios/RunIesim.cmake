# Runs iesim and checks its exit status and output (stdout and stderr together).
#
#   cmake -DIESIM=<path> -DARGS=<args separated by |> -DEXPECT_EXIT=<status>
#         [-DEXPECT_OUTPUT=<regex>] -P RunIesim.cmake
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
