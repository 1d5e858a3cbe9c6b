# Where `cmake --install` puts the deliverables (prefix /usr/local by default):
#
#   <prefix>/bin                 the programs, with the modules they load and
#                                the recording profiles (Profile/*.prx)
#   <prefix>/lib/twain/TiryxK27  the TWAIN data source with the modules it
#                                loads: the TWAIN working group's manager looks
#                                for *.ds under <prefix>/lib/twain, whatever
#                                the platform calls its library folder
#
# Every binary's run path is $ORIGIN and the modules are looked for beside the
# program or the source, so each folder is complete in itself and needs no
# LD_LIBRARY_PATH.
set(FOTAVI_INSTALL_PROGRAM_DIR bin)
set(FOTAVI_INSTALL_TWAIN_DIR lib/twain/TiryxK27)

# The modules every program and the source load, present in both folders.
set(fotavi_shared_modules)
foreach(target FotaviPlatform FotaviZ5 FotaviSIMD_Z5)
  if(TARGET ${target})
    list(APPEND fotavi_shared_modules ${target})
  endif()
endforeach()

set(fotavi_programs)
foreach(target Fotavi FotaviMov camera-emulator)
  if(TARGET ${target})
    list(APPEND fotavi_programs ${target})
  endif()
endforeach()

install(TARGETS ${fotavi_programs} ${fotavi_shared_modules}
        RUNTIME DESTINATION ${FOTAVI_INSTALL_PROGRAM_DIR}
        LIBRARY DESTINATION ${FOTAVI_INSTALL_PROGRAM_DIR})
if(TARGET FotaviMovProfiles)
  # The folder the build fills with the shipped profiles.
  install(DIRECTORY ${FOTAVI_BIN_DIR}/Profile DESTINATION ${FOTAVI_INSTALL_PROGRAM_DIR})
endif()

if(TARGET TiryxK27)
  install(TARGETS TiryxK27 ${fotavi_shared_modules} LIBRARY DESTINATION ${FOTAVI_INSTALL_TWAIN_DIR})
endif()
