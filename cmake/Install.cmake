# Where `cmake --install` puts the programs and everything a Linux desktop
# expects beside them (menu entry, icons, file type, manual pages, shell
# completion), laid out under the freedesktop and Debian conventions.

include(GNUInstallDirs)

set(_sw_linux ${PROJECT_SOURCE_DIR}/packaging/linux)
# The documentation folder is named after the package, not the CMake project.
set(SLICEWRIGHT_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/slicewright)

install(TARGETS slicewright-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Debian wants manual pages and the changelog compressed at the strongest
# level and without a time stamp, so the package is reproducible.
set(_sw_gzipped)
function(_sw_gzip source name)
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/gzipped/${name})
  set(output ${copy}.gz)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
                     COMMAND gzip -9 -n -f ${copy}
                     DEPENDS ${source} VERBATIM)
  set(_sw_gzipped ${_sw_gzipped} ${output} PARENT_SCOPE)
endfunction()

_sw_gzip(${PROJECT_SOURCE_DIR}/docs/man/slicewright-cli.1 slicewright-cli.1)
_sw_gzip(${_sw_linux}/changelog changelog)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gzipped/slicewright-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gzipped/changelog.gz ${_sw_linux}/copyright
        DESTINATION ${SLICEWRIGHT_INSTALL_DOCDIR})
install(FILES ${_sw_linux}/slicewright-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME slicewright-cli)

if(TARGET slicewright)
  install(TARGETS slicewright RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  _sw_gzip(${PROJECT_SOURCE_DIR}/docs/man/slicewright.1 slicewright.1)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gzipped/slicewright.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${_sw_linux}/slicewright.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${_sw_linux}/org.example.slicewright.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
  install(FILES ${_sw_linux}/slicewright.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages)
  install(FILES ${_sw_linux}/icons/slicewright.svg
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
  install(DIRECTORY ${_sw_linux}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons)
endif()

add_custom_target(slicewright_gzipped_docs ALL DEPENDS ${_sw_gzipped})
