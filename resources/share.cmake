# The share panel's desktop integration: an "Open With" entry for any file
# (NoDisplay: it is no application to start from a menu) and a KDE service
# menu action. application/octet-stream is the type every file inherits from;
# listing concrete types instead would make the panel the default application
# for them wherever it is found before the real viewer (/usr/local first). Exec names the installed program by its full path, worked out
# at install time so `cmake --install --prefix P` points at P/bin.
if("share" IN_LIST PELKIN_COMPONENTS)
  include(GNUInstallDirs)
  set(pelkin_share_entry "${CMAKE_CURRENT_LIST_DIR}/share/org.pelkin.PelkinDrop.Share.desktop.in")
  set(pelkin_share_menu "${CMAKE_CURRENT_LIST_DIR}/share/pelkin-drop-share-servicemenu.desktop.in")

  # Build-tree copies for the tests, naming the configured prefix.
  set(PELKIN_SHARE_EXEC "${CMAKE_INSTALL_FULL_BINDIR}/pelkin-drop-share")
  set(PELKIN_SHARE_DESKTOP_FILE "${CMAKE_CURRENT_BINARY_DIR}/share/org.pelkin.PelkinDrop.Share.desktop"
      CACHE INTERNAL "")
  set(PELKIN_SHARE_SERVICE_MENU_FILE "${CMAKE_CURRENT_BINARY_DIR}/share/pelkin-drop-share.desktop"
      CACHE INTERNAL "")
  configure_file("${pelkin_share_entry}" "${PELKIN_SHARE_DESKTOP_FILE}" @ONLY)
  configure_file("${pelkin_share_menu}" "${PELKIN_SHARE_SERVICE_MENU_FILE}" @ONLY)

  set(staging "${CMAKE_CURRENT_BINARY_DIR}/share/install")
  install(CODE "
    set(PELKIN_SHARE_EXEC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/pelkin-drop-share\")
    if(PELKIN_SHARE_EXEC MATCHES \" \")
      set(PELKIN_SHARE_EXEC \"\\\"\${PELKIN_SHARE_EXEC}\\\"\")
    endif()
    configure_file(\"${pelkin_share_entry}\" \"${staging}/org.pelkin.PelkinDrop.Share.desktop\" @ONLY)
    configure_file(\"${pelkin_share_menu}\" \"${staging}/pelkin-drop-share.desktop\" @ONLY)
  ")
  install(FILES "${staging}/org.pelkin.PelkinDrop.Share.desktop"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # GIO finds applications outside /usr/share only through this cache.
  install(CODE "
    find_program(PELKIN_UPDATE_DESKTOP_DATABASE update-desktop-database)
    if(PELKIN_UPDATE_DESKTOP_DATABASE AND NOT DEFINED ENV{DESTDIR})
      execute_process(COMMAND \${PELKIN_UPDATE_DESKTOP_DATABASE} -q
                      \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\")
    endif()
  ")
  # Plasma runs service menus only when they are executable.
  install(FILES "${staging}/pelkin-drop-share.desktop"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                      WORLD_READ WORLD_EXECUTE)
endif()
