# Installed layout: the programs side by side in libexec/vidmora (the app finds its encoder,
# player and help pages next to itself), bin/vidmora a symbolic link to the app, and the desktop
# entry, icon and AppStream metainfo under share/.
set(VIDMORA_APP_ID org.vidmora.Vidmora)
set(VIDMORA_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/vidmora)
set(VIDMORA_HELP_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/docs/help)

# The built program finds its help pages too: build/bin/help is a copy of docs/help.
file(GLOB VIDMORA_HELP_FILES CONFIGURE_DEPENDS ${VIDMORA_HELP_SOURCE}/*)
set(VIDMORA_HELP_STAMP ${CMAKE_BINARY_DIR}/vidmora_help.stamp)
add_custom_command(
  OUTPUT ${VIDMORA_HELP_STAMP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/help
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${VIDMORA_HELP_SOURCE}
          ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/help
  COMMAND ${CMAKE_COMMAND} -E touch ${VIDMORA_HELP_STAMP}
  DEPENDS ${VIDMORA_HELP_FILES}
  COMMENT "Copying the help pages beside the programs")
add_custom_target(vidmora_help ALL DEPENDS ${VIDMORA_HELP_STAMP})

set(VIDMORA_INSTALLED_PROGRAMS)
foreach(program vidmora vidmora-cli vidmora-encoder vidmora-player)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${VIDMORA_PROGRAM_DIR})
    list(APPEND VIDMORA_INSTALLED_PROGRAMS ${program})
  endif()
endforeach()
install(DIRECTORY ${VIDMORA_HELP_SOURCE}/ DESTINATION ${VIDMORA_PROGRAM_DIR}/help)

# bin/vidmora and bin/vidmora-cli: symbolic links to the programs beside their encoder.
foreach(program vidmora vidmora-cli)
  if(NOT TARGET ${program})
    continue()
  endif()
  # A relative link keeps working when the whole prefix is moved or staged with DESTDIR.
  if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}" OR IS_ABSOLUTE "${VIDMORA_PROGRAM_DIR}")
    set(VIDMORA_LINK_TARGET "${CMAKE_INSTALL_FULL_LIBEXECDIR}/vidmora/${program}")
  else()
    file(RELATIVE_PATH VIDMORA_LINK_TARGET /prefix/${CMAKE_INSTALL_BINDIR}
         /prefix/${VIDMORA_PROGRAM_DIR}/${program})
  endif()
  install(CODE "
    set(bin_dir \"${CMAKE_INSTALL_BINDIR}\")
    if(NOT IS_ABSOLUTE \"\${bin_dir}\")
      set(bin_dir \"\${CMAKE_INSTALL_PREFIX}/\${bin_dir}\")
    endif()
    set(bin_dir \"\$ENV{DESTDIR}\${bin_dir}\")
    file(MAKE_DIRECTORY \"\${bin_dir}\")
    message(STATUS \"Installing: \${bin_dir}/${program} -> ${VIDMORA_LINK_TARGET}\")
    file(REMOVE \"\${bin_dir}/${program}\")
    file(CREATE_LINK \"${VIDMORA_LINK_TARGET}\" \"\${bin_dir}/${program}\" SYMBOLIC)
  ")
endforeach()
install(FILES docs/vidmora.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET vidmora-cli)
  install(FILES docs/vidmora-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES data/${VIDMORA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/${VIDMORA_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES data/${VIDMORA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
