# Installation of KevraTaskList and its packages for other projects:
#
#   lib/                      libKevraTaskList.so.1 (the component library)
#                             and the static core libraries
#   include/kevra/DIR/        the headers, by source folder; the C interface
#                             is include/kevra/abi/kevra_tasklist.h
#   lib/cmake/KevraTaskList/  find_package(KevraTaskList [COMPONENTS qt])
#   lib/pkgconfig/            KevraTaskList.pc (C interface),
#                             KevraTaskList-core.pc, KevraTaskList-qt.pc
#   share/kevra/              the toolbox image
#   lib/qt6/plugins/designer/ the Qt Designer plugin
#
# Components: Runtime (the shared library and the toolbox image),
# Development (everything to build against the library), Designer (the
# plugin). CMake targets, all in the KevraTaskList:: namespace:
#   KevraTaskList  the C interface (shared library)
#   core           the control with its task service and settings store
#   headless       the headless container and host (kevra-host's engine)
#   qt             the Qt Widgets front-end (component "qt")
#   platform, widgets, control, service, settings: the core's layers
#
# This file is included at the end of the top-level CMakeLists.txt, once
# every library target exists; that is also why the Designer plugin, which
# needs the Qt front-end, is added from here.
include(CMakePackageConfigHelpers)

if(TARGET kevra_qt AND EXISTS ${PROJECT_SOURCE_DIR}/src/designer/CMakeLists.txt)
  add_subdirectory(${PROJECT_SOURCE_DIR}/src/designer ${PROJECT_BINARY_DIR}/src/designer)
endif()

set(KEVRA_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KevraTaskList)

# The core as one target: the control and the services it creates.
add_library(kevra_core INTERFACE)
target_link_libraries(kevra_core INTERFACE kevra_control kevra_service kevra_settings)

# The project's own libraries that `targets` need at link time: static
# libraries pass their dependencies on, so those must be installed and
# exported too. Following the links, rather than listing them, keeps the
# package whole when a layer gains a helper library.
function(kevra_link_closure out)
  set(queue ${ARGN})
  set(seen)
  while(queue)
    list(POP_FRONT queue target)
    get_target_property(real ${target} ALIASED_TARGET)
    if(real)
      set(target ${real})
    endif()
    if(target IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${target})
    get_target_property(type ${target} TYPE)
    get_target_property(deps ${target} INTERFACE_LINK_LIBRARIES)
    if(type STREQUAL "STATIC_LIBRARY")
      get_target_property(private_deps ${target} LINK_LIBRARIES)
      list(APPEND deps ${private_deps})
    endif()
    foreach(dep ${deps})
      if(TARGET ${dep})
        get_target_property(imported ${dep} IMPORTED)
        get_target_property(dep_type ${dep} TYPE)
        if(NOT imported AND dep_type MATCHES "^(STATIC|INTERFACE)_LIBRARY$")
          list(APPEND queue ${dep})
        endif()
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# Exported names drop the kevra_ prefix: KevraTaskList::control.
function(kevra_name_exports)
  foreach(target ${ARGN})
    string(REGEX REPLACE "^kevra_" "" name ${target})
    set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
    if(NOT TARGET KevraTaskList::${name})
      add_library(KevraTaskList::${name} ALIAS ${target})
    endif()
  endforeach()
endfunction()

kevra_link_closure(kevra_exported_targets KevraTaskList kevra_core kevra_headless)
kevra_name_exports(${kevra_exported_targets})

install(TARGETS ${kevra_exported_targets} EXPORT KevraTaskListTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
    NAMELINK_COMPONENT Development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kevra)
install(EXPORT KevraTaskListTargets NAMESPACE KevraTaskList::
  DESTINATION ${KEVRA_PACKAGE_DIR} COMPONENT Development)

set(KEVRA_PACKAGE_HAS_QT OFF)
if(TARGET kevra_qt)
  set(KEVRA_PACKAGE_HAS_QT ON)
  kevra_link_closure(kevra_qt_targets kevra_qt)
  list(REMOVE_ITEM kevra_qt_targets ${kevra_exported_targets})
  kevra_name_exports(${kevra_qt_targets})
  install(TARGETS ${kevra_qt_targets} EXPORT KevraTaskListQtTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kevra)
  install(EXPORT KevraTaskListQtTargets NAMESPACE KevraTaskList::
    DESTINATION ${KEVRA_PACKAGE_DIR} COMPONENT Development)
endif()

# Headers, by source folder, as the sources include them
# (#include "control/ctlKevraTaskList.h").
set(kevra_header_dirs platform widgets control container settings service headless)
if(TARGET kevra_qt)
  list(APPEND kevra_header_dirs qt)
endif()
foreach(dir ${kevra_header_dirs})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/${dir}/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kevra/${dir} COMPONENT Development
    FILES_MATCHING PATTERN "*.h")
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/src/abi/kevra_tasklist.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kevra/abi COMPONENT Development)

install(FILES ${KEVRA_TOOLBOX_BMP} DESTINATION ${CMAKE_INSTALL_DATADIR}/kevra
  RENAME ctlKevraTaskList.bmp COMPONENT Runtime)

# The CMake package.
set(KEVRA_PACKAGE_HAS_POSTGRES ${KEVRA_HAVE_POSTGRES})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KevraTaskListConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/KevraTaskListConfig.cmake
  INSTALL_DESTINATION ${KEVRA_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/KevraTaskListConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/package/KevraTaskListConfig.cmake
    ${PROJECT_BINARY_DIR}/package/KevraTaskListConfigVersion.cmake
  DESTINATION ${KEVRA_PACKAGE_DIR} COMPONENT Development)

# The pkg-config files find the prefix relative to themselves, so that an
# install moved elsewhere (or made with cmake --install --prefix) still works.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(KEVRA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  set(KEVRA_PC_PREFIX "\${pcfiledir}")
  string(REPLACE "/" ";" libdir_parts "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
  foreach(part ${libdir_parts})
    string(APPEND KEVRA_PC_PREFIX "/..")
  endforeach()
endif()
set(KEVRA_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
set(KEVRA_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
set(KEVRA_PC_CORE_DEPS "sqlite3")
if(KEVRA_HAVE_POSTGRES)
  string(APPEND KEVRA_PC_CORE_DEPS " libpq")
endif()
set(kevra_pc_files KevraTaskList KevraTaskList-core)
if(TARGET kevra_qt)
  list(APPEND kevra_pc_files KevraTaskList-qt)
endif()
foreach(pc ${kevra_pc_files})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/package/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/${pc}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
endforeach()
