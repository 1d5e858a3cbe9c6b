# Where `cmake --install` puts the deliverables, in the GNU layout
# (GNUInstallDirs; prefix /usr/local by default):
#
#   <bindir>                      Fotavi, FotaviMov, fotavi-camera-emulator
#   <libdir>/fotavi               the private modules, once: the platform
#                                 library, FotaviZ5.so, FotaviSIMD_Z5.so
#   <prefix>/lib/twain/TiryxK27   the TWAIN data source: the TWAIN working
#                                 group's manager looks for *.ds under
#                                 <prefix>/lib/twain, whatever the platform
#                                 calls its library folder
#   <datadir>/fotavi              the installation folder (InstallPath):
#                                 Profile/*.prx, HELP/, the INI files
#   <sysconfdir>/fotavi           fotavi-machine.conf, the installer's values
#   <datadir>/applications, icons/hicolor, metainfo   the desktop entries
#
# Run paths are relative ($ORIGIN), so the tree runs wherever it is put
# (a DESTDIR, a package's root) without LD_LIBRARY_PATH; the programs and the
# source find the modules and the machine settings from the platform
# library's own folder.
#
# Components: common (modules and machine settings), programs, twain,
# emulator. The install is stripped unless FOTAVI_INSTALL_STRIP is off.
option(FOTAVI_INSTALL_STRIP "Strip the binaries that cmake --install writes" ON)
set(FOTAVI_INSTALL_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/fotavi)
set(FOTAVI_INSTALL_TWAIN_DIR lib/twain/TiryxK27 CACHE STRING "Folder of the TWAIN data source, under the prefix")
set(FOTAVI_INSTALL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/fotavi)
set(FOTAVI_DESKTOP_IDS com.tiryx.Fotavi com.tiryx.FotaviMov)

# The machine settings folder: <prefix>/etc, or /etc for the prefix /usr.
if(CMAKE_INSTALL_FULL_SYSCONFDIR STREQUAL "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SYSCONFDIR}")
  set(FOTAVI_INSTALL_SETTINGS_DIR ${CMAKE_INSTALL_SYSCONFDIR}/fotavi)
else()
  set(FOTAVI_INSTALL_SETTINGS_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/fotavi)
endif()

# Paths between the installed folders, for the run paths and for the
# platform's look-up of the machine settings.
file(RELATIVE_PATH fotavi_bin_to_modules ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR}/fotavi)
file(RELATIVE_PATH fotavi_twain_to_modules ${CMAKE_INSTALL_PREFIX}/${FOTAVI_INSTALL_TWAIN_DIR}
     ${CMAKE_INSTALL_FULL_LIBDIR}/fotavi)
file(RELATIVE_PATH fotavi_modules_to_settings ${CMAKE_INSTALL_FULL_LIBDIR}/fotavi ${CMAKE_INSTALL_FULL_SYSCONFDIR}/fotavi)

if(TARGET FotaviPlatform)
  set_target_properties(FotaviPlatform PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  target_compile_definitions(FotaviPlatform PRIVATE
    FOTAVI_BUILD_MODULE_DIR="${FOTAVI_BIN_DIR}"
    FOTAVI_MACHINE_SETTINGS_FROM_MODULES="${fotavi_modules_to_settings}/fotavi-machine.conf")
endif()

# Every install strips its binaries, unless asked not to (or --strip given;
# `cmake --install` leaves the variable empty without it).
if(FOTAVI_INSTALL_STRIP)
  install(CODE "
if(\"\${CMAKE_INSTALL_DO_STRIP}\" STREQUAL \"\")
  set(CMAKE_INSTALL_DO_STRIP 1)
endif()" ALL_COMPONENTS)
endif()

# ---------------------------------------------------------------- common
set(fotavi_modules)
foreach(target FotaviPlatform FotaviZ5 FotaviSIMD_Z5)
  if(TARGET ${target})
    list(APPEND fotavi_modules ${target})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
endforeach()
install(TARGETS ${fotavi_modules}
        LIBRARY DESTINATION ${FOTAVI_INSTALL_MODULE_DIR} NAMELINK_SKIP COMPONENT common)

# The installer's values, written at install time with the prefix of that
# install (a DESTDIR is not part of it), through the same rule as
# scripts/install-settings.sh.
set(fotavi_settings_file ${CMAKE_BINARY_DIR}/install-settings/fotavi-machine.conf)
if(IS_ABSOLUTE "${FOTAVI_INSTALL_DATA_DIR}")
  set(fotavi_install_path_code "${FOTAVI_INSTALL_DATA_DIR}")
else()
  set(fotavi_install_path_code "\${CMAKE_INSTALL_PREFIX}/${FOTAVI_INSTALL_DATA_DIR}")
endif()
install(CODE "
execute_process(COMMAND \"${CMAKE_COMMAND}\" \"-DFOTAVI_INSTALL_PATH=${fotavi_install_path_code}\"
                \"-DFOTAVI_MACHINE_SETTINGS_FILE=${fotavi_settings_file}\"
                -P \"${PROJECT_SOURCE_DIR}/cmake/MachineSettings.cmake\" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR \"the machine settings could not be written\")
endif()" COMPONENT common)
install(FILES ${fotavi_settings_file} DESTINATION ${FOTAVI_INSTALL_SETTINGS_DIR} COMPONENT common)

# ---------------------------------------------------------------- programs
set(fotavi_programs)
foreach(target Fotavi FotaviMov)
  if(TARGET ${target})
    list(APPEND fotavi_programs ${target})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${fotavi_bin_to_modules}")
  endif()
endforeach()
install(TARGETS ${fotavi_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
if(TARGET FotaviMovProfiles)
  # The folder the build fills with the shipped profiles.
  install(DIRECTORY ${FOTAVI_BIN_DIR}/Profile DESTINATION ${FOTAVI_INSTALL_DATA_DIR} COMPONENT programs)
endif()
foreach(id IN LISTS FOTAVI_DESKTOP_IDS)
  install(FILES ${PROJECT_SOURCE_DIR}/desktop/${id}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT programs)
  install(FILES ${PROJECT_SOURCE_DIR}/desktop/${id}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT programs)
endforeach()
if(TARGET fotavi-icons)
  # hicolor/<size>x<size>/apps/<desktop id>.png, made by the build.
  install(DIRECTORY ${FOTAVI_ICON_DIR}/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons COMPONENT programs)
endif()

# ---------------------------------------------------------------- twain
if(TARGET TiryxK27)
  set_target_properties(TiryxK27 PROPERTIES INSTALL_RPATH "$ORIGIN/${fotavi_twain_to_modules}")
  install(TARGETS TiryxK27 LIBRARY DESTINATION ${FOTAVI_INSTALL_TWAIN_DIR} COMPONENT twain)
endif()

# ---------------------------------------------------------------- emulator
# Under a name that says what it is; it needs none of the project's modules.
if(TARGET camera-emulator)
  install(PROGRAMS $<TARGET_FILE:camera-emulator> DESTINATION ${CMAKE_INSTALL_BINDIR}
          RENAME fotavi-camera-emulator COMPONENT emulator)
  install(CODE "
set(emulator \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/fotavi-camera-emulator\")
file(RPATH_REMOVE FILE \"\${emulator}\")
if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\" \"\${emulator}\")
endif()" COMPONENT emulator)
endif()

# ---------------------------------------------------------------- uninstall
# Removes what the last install wrote, then the project's folders when empty.
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DFOTAVI_MANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
          "-DFOTAVI_OWN_FOLDERS=${CMAKE_INSTALL_PREFIX}/${FOTAVI_INSTALL_MODULE_DIR};${CMAKE_INSTALL_PREFIX}/${FOTAVI_INSTALL_TWAIN_DIR};${CMAKE_INSTALL_PREFIX}/${FOTAVI_INSTALL_DATA_DIR}/Profile;${CMAKE_INSTALL_PREFIX}/${FOTAVI_INSTALL_DATA_DIR};${CMAKE_INSTALL_FULL_SYSCONFDIR}/fotavi"
          -P ${PROJECT_SOURCE_DIR}/cmake/Uninstall.cmake
  COMMENT "Removing the installed files"
  VERBATIM)

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
