# Debian packages of the install components (`cpack -G DEB` in a build
# configured with the prefix /usr; scripts/package.sh does both):
#
#   fotavi-common           the private modules and the machine settings
#   fotavi                  the programs, profiles, desktop entries and icons
#   fotavi-twain            the TWAIN data source
#   fotavi-camera-emulator  the camera emulator
#
# Each package's library dependencies are found from its binaries by
# dpkg-shlibdeps; the project's own platform library is looked for in the
# build, and the packages that need it depend on fotavi-common of the same
# version.
set(CPACK_PACKAGE_NAME fotavi)
set(CPACK_PACKAGE_VENDOR "Tiryx")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "Fotavi maintainers <fotavi@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Absolute destinations (/etc/fotavi for the prefix /usr) land in the
# package's root, never on the packaging machine.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL common programs twain emulator)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${FOTAVI_BIN_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_COMPONENT_COMMON_DISPLAY_NAME "Fotavi modules")
set(CPACK_COMPONENT_COMMON_DESCRIPTION
    "The device-access library, the platform layer and the JPEG codec module shared by the Fotavi programs and the TWAIN data source, and the machine settings.")
set(CPACK_DEBIAN_COMMON_PACKAGE_NAME fotavi-common)

set(CPACK_COMPONENT_PROGRAMS_DISPLAY_NAME "Fotavi programs")
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
    "Fotavi, the presentation program (live monitor, still pictures, SD card, slide show, conversion), and FotaviMov, the movie-recording program, for the USB document camera.")
set(CPACK_COMPONENT_PROGRAMS_DEPENDS common)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME fotavi)
# Without a camera bridge the emulator is the camera; the theme gives the
# toolbar its icons; LibreOffice converts presentations, xdg-utils opens help.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_RECOMMENDS "fotavi-camera-emulator, adwaita-icon-theme")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SUGGESTS "libreoffice-impress, xdg-utils")

set(CPACK_COMPONENT_TWAIN_DISPLAY_NAME "Fotavi TWAIN data source")
set(CPACK_COMPONENT_TWAIN_DESCRIPTION "TiryxK27, a TWAIN data source for the USB document camera.")
set(CPACK_COMPONENT_TWAIN_DEPENDS common)
set(CPACK_DEBIAN_TWAIN_PACKAGE_NAME fotavi-twain)
set(CPACK_DEBIAN_TWAIN_PACKAGE_RECOMMENDS "fotavi-camera-emulator")

set(CPACK_COMPONENT_EMULATOR_DISPLAY_NAME "Fotavi camera emulator")
set(CPACK_COMPONENT_EMULATOR_DESCRIPTION
    "A stand-in for the USB document camera and its driver, so that the programs and the data source run without the camera.")
set(CPACK_DEBIAN_EMULATOR_PACKAGE_NAME fotavi-camera-emulator)

include(CPack)
