# Installation of KevraTaskList and its packages for other projects:
#
#   bin/                      kevra-host, kevra-catalog, kevra-demo
#   lib/                      libKevraTaskList.so.1 (the component library)
#                             and the static core libraries
#   include/kevra/DIR/        the public headers, by source folder; hosts put
#                             include/ on their path and write
#                             #include <kevra/control/ctlKevraTaskList.h>
#   lib/cmake/KevraTaskList/  find_package(KevraTaskList [COMPONENTS core qt])
#   lib/pkgconfig/            KevraTaskList.pc (C interface),
#                             KevraTaskList-core.pc, KevraTaskList-qt.pc
#   share/kevra/              the toolbox image
#   QT_PLUGINS/designer/      the Qt Designer plugin, in the plugin layout of
#                             the Qt it was built with (src/designer)
#
# Install components: Runtime (the shared library and the toolbox image),
# Development (everything to build against the library), Designer (the
# plugin), Tools (the programs). CMake targets, all in the KevraTaskList::
# namespace, in three files so that a consumer loads only what it asked for:
#   KevraTaskList  the C interface (shared library); needs nothing else
#   core           the control with its task service and settings store
#   headless       the headless container and host (kevra-host's engine)
#   platform, widgets, control, container, service, settings: the core's
#                  layers, which the static libraries above link
#   qt             the Qt Widgets front-end
#
# This file is included at the end of the top-level CMakeLists.txt, once
# every library target exists. The Designer plugin installs itself
# (src/designer/CMakeLists.txt).
include(CMakePackageConfigHelpers)

set(KEVRA_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KevraTaskList)

# The core as one target: the control and the services it creates.
add_library(kevra_core INTERFACE)
target_link_libraries(kevra_core INTERFACE kevra_control kevra_service kevra_settings)

# The project's own libraries a target needs at link time: static libraries
# pass their dependencies on, so those must be installed and exported too.
function(kevra_own_link_deps target out)
  get_target_property(type ${target} TYPE)
  get_target_property(deps ${target} INTERFACE_LINK_LIBRARIES)
  if(type STREQUAL "STATIC_LIBRARY")
    get_target_property(private_deps ${target} LINK_LIBRARIES)
    list(APPEND deps ${private_deps})
  endif()
  set(own)
  foreach(dep ${deps})
    if(TARGET ${dep})
      get_target_property(real ${dep} ALIASED_TARGET)
      if(real)
        set(dep ${real})
      endif()
      get_target_property(imported ${dep} IMPORTED)
      get_target_property(dep_type ${dep} TYPE)
      if(NOT imported AND dep_type MATCHES "^(STATIC|INTERFACE)_LIBRARY$")
        list(APPEND own ${dep})
      endif()
    endif()
  endforeach()
  set(${out} ${own} PARENT_SCOPE)
endfunction()

function(kevra_visit_link_deps target)
  get_property(visited GLOBAL PROPERTY KEVRA_LINK_VISITED)
  if(target IN_LIST visited)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY KEVRA_LINK_VISITED ${target})
  kevra_own_link_deps(${target} deps)
  foreach(dep ${deps})
    kevra_visit_link_deps(${dep})
  endforeach()
  set_property(GLOBAL APPEND PROPERTY KEVRA_LINK_POSTORDER ${target})
endfunction()

# `targets` and every library of the project they link, each one listed
# before the libraries it needs: the order a static link line wants.
# Following the links, rather than listing them, keeps the packages whole
# when a layer gains a helper library.
function(kevra_link_order out)
  set_property(GLOBAL PROPERTY KEVRA_LINK_VISITED "")
  set_property(GLOBAL PROPERTY KEVRA_LINK_POSTORDER "")
  foreach(target ${ARGN})
    kevra_visit_link_deps(${target})
  endforeach()
  get_property(order GLOBAL PROPERTY KEVRA_LINK_POSTORDER)
  list(REVERSE order)
  set(${out} ${order} PARENT_SCOPE)
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

# -lNAME for each static library in `targets`, in their order.
function(kevra_pc_libs out)
  set(libs "")
  foreach(target ${ARGN})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "STATIC_LIBRARY")
      get_target_property(name ${target} OUTPUT_NAME)
      if(NOT name)
        set(name ${target})
      endif()
      string(APPEND libs " -l${name}")
    endif()
  endforeach()
  set(${out} "${libs}" PARENT_SCOPE)
endfunction()

# Installs `targets` and exports them in the CMake package's file NAME.cmake.
function(kevra_install_exported name)
  install(TARGETS ${ARGN} EXPORT ${name}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(EXPORT ${name} NAMESPACE KevraTaskList::
    DESTINATION ${KEVRA_PACKAGE_DIR} COMPONENT Development)
endfunction()

# The C interface: the shared library alone. It links the core statically
# and privately, so its consumers need neither a C++ compiler nor any of
# the core's dependencies.
install(TARGETS KevraTaskList EXPORT KevraTaskListTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
    NAMELINK_COMPONENT Development)
install(EXPORT KevraTaskListTargets NAMESPACE KevraTaskList::
  DESTINATION ${KEVRA_PACKAGE_DIR} COMPONENT Development)

# The C++ core, static.
kevra_link_order(kevra_core_targets kevra_core kevra_headless)
kevra_name_exports(${kevra_core_targets})
kevra_install_exported(KevraTaskListCoreTargets ${kevra_core_targets})

set(KEVRA_PACKAGE_HAS_QT OFF)
if(TARGET kevra_qt)
  set(KEVRA_PACKAGE_HAS_QT ON)
  kevra_link_order(kevra_qt_targets kevra_qt)
  list(REMOVE_ITEM kevra_qt_targets ${kevra_core_targets})
  kevra_name_exports(${kevra_qt_targets})
  kevra_install_exported(KevraTaskListQtTargets ${kevra_qt_targets})
endif()

include(${CMAKE_CURRENT_LIST_DIR}/KevraPublicHeaders.cmake)
set(kevra_headers ${KEVRA_PUBLIC_HEADERS})
if(TARGET kevra_qt)
  list(APPEND kevra_headers ${KEVRA_QT_PUBLIC_HEADERS})
endif()
foreach(header ${kevra_headers})
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/src/${header}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kevra/${dir} COMPONENT Development)
endforeach()

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
kevra_pc_libs(KEVRA_PC_CORE_LIBS ${kevra_core_targets})
set(kevra_pc_files KevraTaskList KevraTaskList-core)
if(TARGET kevra_qt)
  kevra_pc_libs(KEVRA_PC_QT_LIBS ${kevra_qt_targets})
  list(APPEND kevra_pc_files KevraTaskList-qt)
endif()
foreach(pc ${kevra_pc_files})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/package/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/${pc}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
endforeach()
