# Writes the machine settings the installer leaves behind (installation
# folder, outside codec choice, device parameters) from fotavi-machine.conf.in.
# The one rule for them: scripts/install-settings.sh runs it for a build
# folder, `cmake --install` for the installed tree.
#
#   cmake -DFOTAVI_INSTALL_PATH=<installation folder>
#         -DFOTAVI_MACHINE_SETTINGS_FILE=<file to write> -P MachineSettings.cmake
if(NOT FOTAVI_INSTALL_PATH OR NOT FOTAVI_MACHINE_SETTINGS_FILE)
  message(FATAL_ERROR "MachineSettings.cmake needs FOTAVI_INSTALL_PATH and FOTAVI_MACHINE_SETTINGS_FILE")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/fotavi-machine.conf.in ${FOTAVI_MACHINE_SETTINGS_FILE} @ONLY NEWLINE_STYLE UNIX)
