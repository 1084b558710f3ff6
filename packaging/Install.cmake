# What an installation holds besides the programs, at the places a Debian desktop looks for it:
# the saver also in XScreenSaver's directory of savers, its description for XScreenSaver's
# settings dialog, manual pages, desktop entries, the icon, AppStream metainfo and bash
# completion. The Debian package (debian/) holds exactly this tree.

# XScreenSaver starts a `programs:` entry without a full path from its own directory of
# savers. The link there is relative, so that a moved installation (or `cmake --install
# --prefix`) stays whole, and the saver finds its files through /proc/self/exe, which names the
# link's target in bin/, not the link.
set(saver_dir ${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver)
file(RELATIVE_PATH saver_link_target /prefix/${saver_dir} /prefix/${CMAKE_INSTALL_BINDIR}/nimbrel)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
file(CREATE_LINK ${saver_link_target} ${CMAKE_BINARY_DIR}/packaging/nimbrel SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/packaging/nimbrel DESTINATION ${saver_dir})

install(FILES ${NIMBREL_GENERATED_DIR}/nimbrel.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/xscreensaver/config)

# Manual pages, compressed as the system's are.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(man_pages)
foreach(page nimbrel.6 nimbrel-settings.6)
  set(compressed ${CMAKE_BINARY_DIR}/packaging/${page}.gz)
  add_custom_command(OUTPUT ${compressed}
                     COMMAND ${GZIP_PROGRAM} -9nc ${NIMBREL_GENERATED_DIR}/man/${page} > ${compressed}
                     DEPENDS ${NIMBREL_GENERATED_DIR}/man/${page} VERBATIM)
  list(APPEND man_pages ${compressed})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
add_dependencies(man_pages settings_files)
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)

# The desktop entries and the metainfo as po/ makes them from their templates in resources/, with
# every language's texts.
install(FILES ${NIMBREL_TRANSLATED_DIR}/org.nimbrel.Nimbrel.Settings.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Where desktop screen savers list the savers they can run.
install(FILES ${NIMBREL_TRANSLATED_DIR}/nimbrel-saver.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications/screensavers RENAME nimbrel.desktop)
# The settings program's icon, and the saver's own: the petals on a screen.
install(FILES ${NIMBREL_RESOURCES_DIR}/org.nimbrel.Nimbrel.Settings.svg
              ${NIMBREL_RESOURCES_DIR}/org.nimbrel.Nimbrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${NIMBREL_TRANSLATED_DIR}/org.nimbrel.Nimbrel.Settings.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${NIMBREL_GENERATED_DIR}/completion/nimbrel
              ${NIMBREL_RESOURCES_DIR}/completion/nimbrel-settings
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# `make uninstall`: removes what the last installation from this build directory put in place.
add_custom_target(uninstall
                  COMMAND ${CMAKE_COMMAND} -D MANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
                          -P ${CMAKE_SOURCE_DIR}/packaging/Uninstall.cmake)
