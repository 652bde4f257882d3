# The application's desktop integration: its .desktop entry, AppStream
# metainfo (its release is the project version), man pages and icon (the
# character artwork: scalable, plus PNGs rendered at build time for desktops
# that want pixels), all under the application id org.pelkin.PelkinDrop.
include(GNUInstallDirs)
set(pelkin_app_id org.pelkin.PelkinDrop)
set(PELKIN_APP_DESKTOP_FILE "${CMAKE_CURRENT_LIST_DIR}/app/${pelkin_app_id}.desktop"
    CACHE INTERNAL "")
set(PELKIN_APP_METAINFO_FILE "${CMAKE_CURRENT_BINARY_DIR}/app/${pelkin_app_id}.metainfo.xml"
    CACHE INTERNAL "")
configure_file("${CMAKE_CURRENT_LIST_DIR}/app/${pelkin_app_id}.metainfo.xml.in"
               "${PELKIN_APP_METAINFO_FILE}" @ONLY)
install(FILES "${PELKIN_APP_DESKTOP_FILE}" DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES "${PELKIN_APP_METAINFO_FILE}" DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES "${CMAKE_CURRENT_LIST_DIR}/character/DropCharacter.svg"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${pelkin_app_id}.svg)

set(pelkin_app_icon_pngs)
foreach(size 16 22 24 32 48 64 128 256 512)
  set(png "${CMAKE_CURRENT_BINARY_DIR}/app/icons/${size}x${size}/${pelkin_app_id}.png")
  add_custom_command(OUTPUT "${png}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/app/icons/${size}x${size}"
    COMMAND pelkin_render_svg "${CMAKE_CURRENT_LIST_DIR}/character/DropCharacter.svg" "${png}" ${size}
    DEPENDS "${CMAKE_CURRENT_LIST_DIR}/character/DropCharacter.svg" pelkin_render_svg
    COMMENT "Rendering the ${size} px application icon"
    VERBATIM)
  install(FILES "${png}" DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  list(APPEND pelkin_app_icon_pngs "${png}")
endforeach()
add_custom_target(pelkin_app_icons ALL DEPENDS ${pelkin_app_icon_pngs})

foreach(page pelkin-drop pelkin-drop-share)
  configure_file("${CMAKE_CURRENT_LIST_DIR}/man/${page}.1.in"
                 "${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1" @ONLY)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
