# The short benchmark run of ctest: each benchmark binary in BENCHMARKS at
# its smallest catalogue, for a moment each. Fails when a binary fails or a
# benchmark reports an error. It never writes to a PostgreSQL database, even
# when KEVRA_TEST_PG is set: that is for the full run only.
unset(ENV{KEVRA_TEST_PG})
foreach(binary ${BENCHMARKS})
  execute_process(
    COMMAND ${binary} "--benchmark_filter=rows:1000(/|$)" --benchmark_min_time=0.01
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  message("${output}${errors}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${binary} failed with status ${status}")
  endif()
  if(output MATCHES "ERROR OCCURRED")
    message(FATAL_ERROR "${binary} reported an error (see above)")
  endif()
  if(NOT output MATCHES "rows:1000")
    message(FATAL_ERROR "${binary} ran no benchmark at 1000 rows")
  endif()
endforeach()
