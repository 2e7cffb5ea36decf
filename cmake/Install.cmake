# What `cmake --install` puts where: the programs and their manual pages and, with the window,
# its desktop entry, AppStream metainfo and icons.
include(GNUInstallDirs)

install(TARGETS pellavo-cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

# Each manual page is made from its program's --help and --version, so it lists the options the
# program has; man/<program>.h2m adds the sections the help text does not hold.
find_program(PELLAVO_HELP2MAN help2man REQUIRED)
set(man_pages)
function(pellavo_man_page program summary)
  set(page "${PROJECT_BINARY_DIR}/man/${program}.1")
  set(include "${PROJECT_SOURCE_DIR}/man/${program}.h2m")
  add_custom_command(
    OUTPUT "${page}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/man"
    COMMAND "${PELLAVO_HELP2MAN}" --no-info --no-discard-stderr --section 1 --name "${summary}"
            --include "${include}" --output "${page}" "$<TARGET_FILE:${program}>"
    DEPENDS ${program} "${include}"
    COMMENT "Writing the manual page ${program}.1"
    VERBATIM)
  install(FILES "${page}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  set(man_pages ${man_pages} "${page}" PARENT_SCOPE)
endfunction()

pellavo_man_page(pellavo-cli "batch image resizer for the command line")

if(PELLAVO_BUILD_GUI)
  install(TARGETS pellavo RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  pellavo_man_page(pellavo "batch image resizer")

  # The desktop entry and the metainfo are named by the application's ID; the icon by the
  # program's name, as the entry's Icon= says.
  pellavo_desktop_id("${PELLAVO_LATEST_URL}" PELLAVO_DESKTOP_ID)
  pellavo_site_of("${PELLAVO_LATEST_URL}" PELLAVO_SITE)
  configure_file(desktop/pellavo.metainfo.xml.in "desktop/${PELLAVO_DESKTOP_ID}.metainfo.xml" @ONLY)
  install(FILES desktop/pellavo.desktop DESTINATION "${CMAKE_INSTALL_DATADIR}/applications"
          RENAME "${PELLAVO_DESKTOP_ID}.desktop")
  install(FILES "${PROJECT_BINARY_DIR}/desktop/${PELLAVO_DESKTOP_ID}.metainfo.xml"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
  install(FILES "${PELLAVO_ICON_SVG}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
  install(FILES "${PELLAVO_ICON_PNG}"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${PELLAVO_ICON_SIZE}x${PELLAVO_ICON_SIZE}/apps")
endif()

add_custom_target(man_pages ALL DEPENDS ${man_pages})
