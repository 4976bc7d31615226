# The public headers, by their path under src/: what is installed under
# include/kevra/ (cmake/KevraInstall.cmake) and what tests/abi checks the
# install against.
#
# The entry headers are the ones hosts include: the C interface, the
# control, its dispatch surface, the headless host, the task service, the
# settings store and the Qt widget. The public headers are those and every
# project header they include, listed rather than globbed so that a new
# header stays private until it is added here. The fault hooks, the filter
# and its indexes and every *_p.h belong to the implementation; a public
# header that needs one only in its code includes it from the .cpp instead.
set(KEVRA_ENTRY_HEADERS
  abi/kevra_tasklist.h
  control/ctlKevraTaskList.h
  control/dispatch.h
  headless/host.h
  headless/script.h
  service/task_service.h
  settings/ini_settings_store.h)
set(KEVRA_PUBLIC_HEADERS
  ${KEVRA_ENTRY_HEADERS}
  platform/control_site.h
  platform/dataspace.h
  platform/error.h
  platform/recordset.h
  platform/settings_store.h
  platform/variant.h
  widgets/font.h
  widgets/listbar.h
  widgets/tree.h)
# Installed when the Qt front-end is built.
set(KEVRA_QT_PUBLIC_HEADERS qt/kevra_task_list_widget.h qt/search_field.h)
# Never public, whatever includes them (the filter and its indexes are
# private by their *_p.h names).
set(KEVRA_PRIVATE_HEADERS platform/faults.h)
