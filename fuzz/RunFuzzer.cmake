# Runs one fuzz target for SECONDS on a scratch copy of its seed corpus.
# Every seed is run first, so a committed regression input that fails again
# fails the test; findings land in WORK/ as crash-*, leak-* or timeout-*.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
file(GLOB seeds ${CORPUS}/*)
if(NOT seeds)
  message(FATAL_ERROR "no seed corpus in ${CORPUS}")
endif()
file(COPY ${seeds} DESTINATION ${WORK}/corpus)
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=${TIMEOUT} -rss_limit_mb=2048 -detect_leaks=1
          -print_final_stats=1 -artifact_prefix=${WORK}/ ${WORK}/corpus
  WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(GLOB findings ${WORK}/crash-* ${WORK}/leak-* ${WORK}/timeout-* ${WORK}/oom-*)
  message(FATAL_ERROR "${FUZZER} failed (${status}); findings: ${findings}")
endif()
