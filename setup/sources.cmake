# The installer's portable logic, named once for the native vorn_setup
# (setup/CMakeLists.txt) and the stub (setup/win32/CMakeLists.txt).
include_guard(DIRECTORY)

set(VORN_SETUP_SOURCES
  failure_report.cpp
  folders.cpp
  install_log.cpp
  installer.cpp
  package_reader.cpp
  pe_image.cpp
  shortcuts.cpp
)
list(TRANSFORM VORN_SETUP_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)

# What an installer with [install] keys adds: its settings and switches.
# Only the options stub and the native library carry it, built with
# VORN_INSTALL_OPTIONS.
set(VORN_SETUP_OPTION_SOURCES ${CMAKE_CURRENT_LIST_DIR}/install_options.cpp)

# The remover's portable logic, for the native tests and tools (vornpack
# writes its record) and the remover program.
set(VORN_REMOVER_SOURCES
  remover/path_guard.cpp
  remover/registration.cpp
  remover/remover.cpp
  remover/sha256.cpp
  remover/uninstall_record.cpp
)
list(TRANSFORM VORN_REMOVER_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
