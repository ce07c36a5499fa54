# Runs the scenario fuzzer for a bounded time.
#
#   cmake -DFUZZER=<iesim_fuzz> -DSOURCE_DIR=<tests/fuzz> -DWORK_DIR=<scratch> -P RunFuzz.cmake
#
# New inputs go to WORK_DIR/corpus (the corpus in the sources is only read); a crashing, hanging
# or leaking input is written to WORK_DIR/findings/ and fails the run: keep it as a regression
# file in tests/fuzz/regressions/ once fixed. Seconds: $ENV{IE_FUZZ_SECONDS}, default 60. The
# report goes to stdout, which is closed; stderr keeps the fuzzer's progress and crash reports.
set(seconds 60)
if(DEFINED ENV{IE_FUZZ_SECONDS})
  set(seconds "$ENV{IE_FUZZ_SECONDS}")
endif()
if(NOT seconds MATCHES "^[1-9][0-9]*$")
  message(FATAL_ERROR "IE_FUZZ_SECONDS=\"${seconds}\": expected a whole number of seconds")
endif()
file(MAKE_DIRECTORY "${WORK_DIR}/corpus" "${WORK_DIR}/findings")
execute_process(
  COMMAND "${FUZZER}" -max_total_time=${seconds} -timeout=10 -rss_limit_mb=2048
          -max_len=65536 -dict=${SOURCE_DIR}/scenario.dict -close_fd_mask=1
          "-artifact_prefix=${WORK_DIR}/findings/"
          "${WORK_DIR}/corpus" "${SOURCE_DIR}/corpus" "${SOURCE_DIR}/regressions"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the fuzzer found an input that fails (exit ${status}); see ${WORK_DIR}/findings/")
endif()
