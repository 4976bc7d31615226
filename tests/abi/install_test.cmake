# Installs the build tree into a scratch prefix and builds consumers of the
# installed package on their own, each as a project that knows nothing of
# the source tree, so that a broken package fails here:
#
#   STEP=install    cmake --install of every component; checks the layout,
#                   that the installed headers are exactly the public ones,
#                   the Designer plugin's folder and the installed tools
#   STEP=c          examples/c-host as a C-only project: configured without
#                   a C++ compiler and with SQLite, PostgreSQL and Qt hidden,
#                   then run from its build tree and from an install of its
#                   own, without LD_LIBRARY_PATH
#   STEP=cpp        outside_project/: the C++ core, the headless host, every
#                   installed header compiled on its own
#   STEP=qt         outside_project/qt/: a Qt application with COMPONENTS qt
#   STEP=pkgconfig  the C host, the C++ and the Qt consumers compiled with
#                   the installed .pc files alone
#
#   cmake -DSTEP=... -DBUILD_DIR=... -DWORK=... -DLIBDIR=lib
#         -DINCLUDEDIR=include -DBINDIR=bin -DSOURCE_DIR=...
#         -DC_COMPILER=... -DCXX_COMPILER=... -DBUILD_TYPE=...
#         [-DSANITIZE_FLAGS=...] [-DDESIGNER=1 -DQTPATHS=...] [-DWITH_QT=1]
#         -P install_test.cmake
#
# STEP=install makes WORK/prefix, which the other steps use.
cmake_minimum_required(VERSION 3.22)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " shown "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${shown}")
  endif()
endfunction()

# The output of a command that must succeed, without its final line break.
function(query out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE status
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " shown "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${shown}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK}/prefix)
set(scratch ${WORK}/${STEP})
# The consumers keep their settings and registry in the scratch area, and
# find the library without help: a consumer that needs LD_LIBRARY_PATH to
# run fails here.
set(ENV{XDG_CONFIG_HOME} ${scratch}/xdg/config)
set(ENV{XDG_DATA_HOME} ${scratch}/xdg/data)
set(ENV{XDG_STATE_HOME} ${scratch}/xdg/state)
unset(ENV{LD_LIBRARY_PATH})
set(catalogue ${SOURCE_DIR}/examples/c-host/catalogue.json)
separate_arguments(san UNIX_COMMAND "${SANITIZE_FLAGS}")
set(flags)
if(SANITIZE_FLAGS)
  list(APPEND flags "-DCMAKE_C_FLAGS=${SANITIZE_FLAGS}" "-DCMAKE_CXX_FLAGS=${SANITIZE_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${SANITIZE_FLAGS}")
endif()

if(NOT STEP STREQUAL "install" AND NOT EXISTS ${prefix}/${LIBDIR}/libKevraTaskList.so.1)
  message(FATAL_ERROR "nothing is installed in ${prefix}: run the test abi.install_package first")
endif()
file(REMOVE_RECURSE ${scratch})
file(MAKE_DIRECTORY ${scratch})

if(STEP STREQUAL "install")
  file(REMOVE_RECURSE ${prefix})
  foreach(component Runtime Development Designer Tools)
    run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component ${component})
  endforeach()
  # An install rule without a component is left out of every one of them.
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${scratch}/whole)
  file(GLOB_RECURSE by_component RELATIVE ${prefix} ${prefix}/*)
  file(GLOB_RECURSE whole RELATIVE ${scratch}/whole ${scratch}/whole/*)
  list(REMOVE_ITEM whole ${by_component})
  if(whole)
    message(FATAL_ERROR "installed by no component (Runtime, Development, Designer, Tools): ${whole}")
  endif()

  foreach(file
      ${BINDIR}/kevra-host
      ${BINDIR}/kevra-catalog
      ${LIBDIR}/libKevraTaskList.so.1
      ${LIBDIR}/libKevraTaskList.so
      ${LIBDIR}/libkevra_control.a
      ${LIBDIR}/cmake/KevraTaskList/KevraTaskListConfig.cmake
      ${LIBDIR}/cmake/KevraTaskList/KevraTaskListConfigVersion.cmake
      ${LIBDIR}/cmake/KevraTaskList/KevraTaskListTargets.cmake
      ${LIBDIR}/cmake/KevraTaskList/KevraTaskListCoreTargets.cmake
      ${LIBDIR}/pkgconfig/KevraTaskList.pc
      ${LIBDIR}/pkgconfig/KevraTaskList-core.pc
      share/kevra/ctlKevraTaskList.bmp)
    if(NOT EXISTS ${prefix}/${file})
      message(FATAL_ERROR "the install lacks ${file}")
    endif()
  endforeach()
  if(WITH_QT AND NOT EXISTS ${prefix}/${BINDIR}/kevra-demo)
    message(FATAL_ERROR "the install lacks ${BINDIR}/kevra-demo")
  endif()

  # The installed tools run from the prefix as they are.
  foreach(tool kevra-host kevra-catalog)
    execute_process(COMMAND ${prefix}/${BINDIR}/${tool} --help
      RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "the installed ${tool} does not run (${status}): ${error}")
    endif()
  endforeach()

  # Headers: only under include/kevra/, and exactly the entry headers with
  # every project header they include, which must all be installed too.
  include(${SOURCE_DIR}/cmake/KevraPublicHeaders.cmake)
  set(include_root ${prefix}/${INCLUDEDIR})
  file(GLOB top RELATIVE ${include_root} ${include_root}/*)
  if(NOT top STREQUAL "kevra")
    message(FATAL_ERROR "the install puts ${top} in ${INCLUDEDIR}/, where only kevra/ belongs")
  endif()
  file(GLOB_RECURSE installed RELATIVE ${include_root}/kevra ${include_root}/kevra/*)
  set(queue ${KEVRA_ENTRY_HEADERS})
  if(WITH_QT)
    list(APPEND queue ${KEVRA_QT_PUBLIC_HEADERS})
  endif()
  set(reached)
  while(queue)
    list(POP_FRONT queue header)
    if(header IN_LIST reached)
      continue()
    endif()
    list(APPEND reached ${header})
    if(NOT header IN_LIST installed)
      message(FATAL_ERROR "kevra/${header} is a public header, or included by one, but is not installed: "
        "list it in cmake/KevraPublicHeaders.cmake, or include it from the .cpp instead")
    endif()
    file(STRINGS ${include_root}/kevra/${header} includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${includes})
      if(line MATCHES "[\"<]kevra/([^\">]+)[\">]")
        list(APPEND queue ${CMAKE_MATCH_1})
      elseif(line MATCHES "\"([^\"]+)\"")
        message(FATAL_ERROR "the installed kevra/${header} includes \"${CMAKE_MATCH_1}\", which a host "
          "cannot resolve: public headers include each other as \"kevra/FOLDER/NAME.h\"")
      endif()
    endforeach()
  endwhile()
  foreach(header ${installed})
    if(NOT header IN_LIST reached)
      message(FATAL_ERROR "kevra/${header} is installed but no public header includes it")
    endif()
    if(header IN_LIST KEVRA_PRIVATE_HEADERS OR header MATCHES "_p\\.h$")
      message(FATAL_ERROR "kevra/${header} is the implementation's own and must not be installed")
    endif()
  endforeach()

  # The Designer plugin goes where the Qt it was built with loads plugins
  # from: under its own prefix, Qt's plugin directory; under another, the
  # same folders below that prefix.
  if(DESIGNER)
    query(qt_prefix ${QTPATHS} --query QT_INSTALL_PREFIX)
    query(qt_plugins ${QTPATHS} --plugin-dir)
    file(RELATIVE_PATH plugins_below_prefix ${qt_prefix} ${qt_plugins})
    set(plugin designer/libkevratasklistplugin.so)
    if(NOT EXISTS ${prefix}/${plugins_below_prefix}/${plugin})
      file(GLOB_RECURSE found RELATIVE ${prefix} ${prefix}/*libkevratasklistplugin.so)
      message(FATAL_ERROR "the Designer plugin is not in ${plugins_below_prefix}/designer/ "
        "but in \"${found}\"")
    endif()
    set(ENV{DESTDIR} ${WORK}/destdir)
    file(REMOVE_RECURSE ${WORK}/destdir)
    run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${qt_prefix} --component Designer)
    unset(ENV{DESTDIR})
    if(NOT EXISTS ${WORK}/destdir/${qt_plugins}/${plugin})
      message(FATAL_ERROR "installed with Qt's prefix ${qt_prefix}, the Designer plugin is not in "
        "Qt's plugin directory ${qt_plugins}/designer")
    endif()
  endif()

elseif(STEP STREQUAL "c")
  # A C project: no C++ compiler, and SQLite, PostgreSQL and Qt hidden. The
  # trace shows whether the package looked for them at all.
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/c-host -B ${scratch}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DCMAKE_C_COMPILER=${C_COMPILER} ${flags}
    -DCMAKE_DISABLE_FIND_PACKAGE_SQLite3=ON -DCMAKE_DISABLE_FIND_PACKAGE_PostgreSQL=ON
    -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON
    --trace-expand --trace-redirect=${scratch}/trace.txt)
  file(STRINGS ${scratch}/trace.txt looked REGEX "find_(package|dependency)\\((SQLite3|PostgreSQL|Qt6)")
  if(looked)
    list(GET looked 0 first)
    message(FATAL_ERROR "configuring a C host, the package looks for a dependency of the core: ${first}")
  endif()
  file(STRINGS ${scratch}/build/CMakeCache.txt cxx REGEX "^CMAKE_CXX_COMPILER:")
  if(cxx)
    message(FATAL_ERROR "configuring a C host enabled C++: ${cxx}")
  endif()
  run(${CMAKE_COMMAND} --build ${scratch}/build)
  run(${CMAKE_COMMAND} -DSCRATCH=${scratch}/run-build-tree
    -P ${SOURCE_DIR}/tests/abi/run_example.cmake -- ${scratch}/build/c-host ${catalogue})
  # Installed elsewhere, it still finds the library in the package's prefix.
  run(${CMAKE_COMMAND} --install ${scratch}/build --prefix ${scratch}/host-prefix)
  run(${CMAKE_COMMAND} -DSCRATCH=${scratch}/run-installed
    -P ${SOURCE_DIR}/tests/abi/run_example.cmake -- ${scratch}/host-prefix/bin/c-host ${catalogue})

  # What a C project cannot have is refused by name, with what to change.
  foreach(case "core|needs a C\\+\\+ compiler" "gui|There is no component \"gui\": the components are c, core and qt")
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 component)
    list(GET case 1 expected)
    set(project ${scratch}/asks-${component})
    file(WRITE ${project}/CMakeLists.txt
      "cmake_minimum_required(VERSION 3.22)\nproject(asks LANGUAGES C)\n"
      "find_package(KevraTaskList 1.0 REQUIRED COMPONENTS ${component})\n")
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${project} -B ${project}/build
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${C_COMPILER}
      RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    string(REGEX REPLACE "[ \t\n]+" " " said "${out}${err}")
    if(status EQUAL 0)
      message(FATAL_ERROR "a C project that requires the component ${component} configured")
    elseif(NOT said MATCHES "${expected}")
      message(FATAL_ERROR "asking a C project for the component ${component} failed without "
        "saying why (expected \"${expected}\"): ${said}")
    endif()
  endforeach()

elseif(STEP STREQUAL "cpp")
  # A C++ project that names no component gets the core too, as with 1.0.
  file(WRITE ${scratch}/no-components/CMakeLists.txt
    "cmake_minimum_required(VERSION 3.22)\nproject(plain LANGUAGES CXX)\n"
    "find_package(KevraTaskList 1.0 REQUIRED)\n"
    "if(NOT TARGET KevraTaskList::core OR NOT TARGET KevraTaskList::KevraTaskList)\n"
    "  message(FATAL_ERROR \"no KevraTaskList::core without COMPONENTS\")\nendif()\n")
  run(${CMAKE_COMMAND} -S ${scratch}/no-components -B ${scratch}/no-components/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/abi/outside_project -B ${scratch}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DCATALOGUE=${catalogue} ${flags})
  run(${CMAKE_COMMAND} --build ${scratch}/build -j2)
  run(${CMAKE_CTEST_COMMAND} --test-dir ${scratch}/build --output-on-failure)

elseif(STEP STREQUAL "qt")
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/abi/outside_project/qt -B ${scratch}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCATALOGUE=${catalogue} ${flags})
  run(${CMAKE_COMMAND} --build ${scratch}/build -j2)
  run(${CMAKE_CTEST_COMMAND} --test-dir ${scratch}/build --output-on-failure)

elseif(STEP STREQUAL "pkgconfig")
  # The way a Makefile-built host uses the package: the flags from the .pc
  # files, and the library's folder as the run path, as docs/embedding.md
  # says.
  find_program(PKG_CONFIG pkg-config REQUIRED)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
  query(libdir ${PKG_CONFIG} --variable=libdir KevraTaskList)
  set(rpath -Wl,-rpath,${libdir})

  query(c_flags ${PKG_CONFIG} --cflags --libs KevraTaskList)
  separate_arguments(c_flags UNIX_COMMAND "${c_flags}")
  foreach(source ${SOURCE_DIR}/examples/c-host/c_host.c ${SOURCE_DIR}/tests/abi/outside_project/c_user.c)
    get_filename_component(name ${source} NAME_WE)
    run(${C_COMPILER} -std=c89 -Wall -Wextra -Werror ${san} ${source} ${c_flags} ${rpath}
      -o ${scratch}/${name})
  endforeach()
  run(${CMAKE_COMMAND} -DSCRATCH=${scratch}/run-c-host
    -P ${SOURCE_DIR}/tests/abi/run_example.cmake -- ${scratch}/c_host ${catalogue})
  run(${scratch}/c_user ${catalogue})

  query(core_flags ${PKG_CONFIG} --cflags --libs KevraTaskList-core)
  separate_arguments(core_flags UNIX_COMMAND "${core_flags}")
  run(${CXX_COMPILER} -std=c++20 ${san} ${SOURCE_DIR}/tests/abi/outside_project/cpp_user.cpp
    ${core_flags} -o ${scratch}/cpp_user)
  run(${scratch}/cpp_user ${catalogue})

  if(EXISTS ${prefix}/${LIBDIR}/pkgconfig/KevraTaskList-qt.pc)
    execute_process(COMMAND ${PKG_CONFIG} --exists Qt6Widgets RESULT_VARIABLE no_qt_pc)
    if(no_qt_pc)
      message(STATUS "Qt6Widgets.pc not found: KevraTaskList-qt.pc is not checked")
    else()
      query(qt_flags ${PKG_CONFIG} --cflags --libs KevraTaskList-qt)
      separate_arguments(qt_flags UNIX_COMMAND "${qt_flags}")
      run(${CXX_COMPILER} -std=c++20 -fPIC ${san} ${SOURCE_DIR}/tests/abi/outside_project/qt_user.cpp
        ${qt_flags} -o ${scratch}/qt_user)
      set(ENV{QT_QPA_PLATFORM} offscreen)
      run(${scratch}/qt_user ${catalogue})
    endif()
  endif()

else()
  message(FATAL_ERROR "unknown STEP \"${STEP}\": install, c, cpp, qt or pkgconfig")
endif()
