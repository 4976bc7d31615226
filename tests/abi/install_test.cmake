# Installs the build tree into a scratch prefix (cmake --install, components
# Runtime, Development and Designer), checks the layout, builds the project
# in outside_project/ against the installed CMake package and runs its
# tests, then builds the C example host with the installed pkg-config file
# and runs it.
#
#   cmake -DBUILD_DIR=... -DWORK=... -DLIBDIR=lib -DINCLUDEDIR=include
#         -DSOURCE_DIR=... -DC_COMPILER=... -DCXX_COMPILER=... -DBUILD_TYPE=...
#         [-DSANITIZE_FLAGS=...] -P install_test.cmake
cmake_minimum_required(VERSION 3.22)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " shown "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${shown}")
  endif()
endfunction()

set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/xdg)
# The outside programs keep their settings and registry in the scratch area.
set(ENV{XDG_CONFIG_HOME} ${WORK}/xdg/config)
set(ENV{XDG_DATA_HOME} ${WORK}/xdg/data)

foreach(component Runtime Development Designer)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component ${component})
endforeach()

foreach(file
    ${LIBDIR}/libKevraTaskList.so.1
    ${LIBDIR}/libKevraTaskList.so
    ${LIBDIR}/libkevra_control.a
    ${LIBDIR}/cmake/KevraTaskList/KevraTaskListConfig.cmake
    ${LIBDIR}/cmake/KevraTaskList/KevraTaskListConfigVersion.cmake
    ${LIBDIR}/pkgconfig/KevraTaskList.pc
    ${LIBDIR}/pkgconfig/KevraTaskList-core.pc
    ${INCLUDEDIR}/kevra/abi/kevra_tasklist.h
    ${INCLUDEDIR}/kevra/control/ctlKevraTaskList.h
    ${INCLUDEDIR}/kevra/platform/variant.h
    share/kevra/ctlKevraTaskList.bmp)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "the install lacks ${file}")
  endif()
endforeach()

# The CMake package, from a project that knows nothing of the source tree.
set(flags)
if(SANITIZE_FLAGS)
  list(APPEND flags "-DCMAKE_C_FLAGS=${SANITIZE_FLAGS}" "-DCMAKE_CXX_FLAGS=${SANITIZE_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${SANITIZE_FLAGS}")
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/abi/outside_project -B ${WORK}/outside
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
  -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  -DCATALOGUE=${SOURCE_DIR}/examples/c-host/catalogue.json ${flags})
run(${CMAKE_COMMAND} --build ${WORK}/outside -j2)
run(${CMAKE_CTEST_COMMAND} --test-dir ${WORK}/outside --output-on-failure)

# The pkg-config file, the way a Makefile-built C host uses it.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs KevraTaskList
    OUTPUT_VARIABLE pc_flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know KevraTaskList")
  endif()
  separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
  separate_arguments(san UNIX_COMMAND "${SANITIZE_FLAGS}")
  run(${C_COMPILER} -std=c89 ${san} ${SOURCE_DIR}/examples/c-host/c_host.c ${pc_flags}
    -o ${WORK}/c-host-pkgconfig)
  set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
  run(${WORK}/c-host-pkgconfig ${SOURCE_DIR}/examples/c-host/catalogue.json)
else()
  message(STATUS "pkg-config not found: the pkg-config files are not checked")
endif()
