# Runs one example host in a scratch directory of its own and checks that it
# left the component registry as it found it.
#
#   cmake -DSCRATCH=DIR [-DPRELOAD=LIB] -P run_example.cmake -- COMMAND ARGS...
#
# XDG_DATA_HOME, XDG_CONFIG_HOME and XDG_STATE_HOME point into SCRATCH, which starts empty.
# PRELOAD (the sanitizer runtime, for hosts that are not built with it, such
# as the Python interpreter) goes to LD_PRELOAD.
cmake_minimum_required(VERSION 3.22)
set(command)
set(seen_separator OFF)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(seen_separator)
    list(APPEND command "${CMAKE_ARGV${i}}")
  elseif("${CMAKE_ARGV${i}}" STREQUAL "--")
    set(seen_separator ON)
  endif()
endforeach()
if(NOT SCRATCH OR NOT command)
  message(FATAL_ERROR "usage: cmake -DSCRATCH=DIR -P run_example.cmake -- COMMAND ARGS...")
endif()

file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
set(ENV{XDG_DATA_HOME} "${SCRATCH}/data")
set(ENV{XDG_CONFIG_HOME} "${SCRATCH}/config")
set(ENV{XDG_STATE_HOME} "${SCRATCH}/state")
if(PRELOAD)
  set(ENV{LD_PRELOAD} "${PRELOAD}")
  # The interpreter's own allocations are not ours to judge.
  set(ENV{ASAN_OPTIONS} "detect_leaks=0")
endif()

execute_process(COMMAND ${command} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the example failed (status ${status})")
endif()
if(EXISTS "${SCRATCH}/data")
  file(GLOB_RECURSE left RELATIVE "${SCRATCH}/data" "${SCRATCH}/data/*")
  message(FATAL_ERROR "unregistering left files in the registry: ${left}")
endif()
