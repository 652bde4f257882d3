# The application's desktop integration: its .desktop entry, AppStream
# metainfo and icon (the character artwork, scalable), all under the
# application id org.pelkin.PelkinDrop.
set(pelkin_app_id org.pelkin.PelkinDrop)
set(PELKIN_APP_DESKTOP_FILE "${CMAKE_CURRENT_LIST_DIR}/app/${pelkin_app_id}.desktop"
    CACHE INTERNAL "")
set(PELKIN_APP_METAINFO_FILE "${CMAKE_CURRENT_LIST_DIR}/app/${pelkin_app_id}.metainfo.xml"
    CACHE INTERNAL "")
install(FILES "${PELKIN_APP_DESKTOP_FILE}" DESTINATION share/applications)
install(FILES "${PELKIN_APP_METAINFO_FILE}" DESTINATION share/metainfo)
install(FILES "${CMAKE_CURRENT_LIST_DIR}/character/DropCharacter.svg"
        DESTINATION share/icons/hicolor/scalable/apps
        RENAME ${pelkin_app_id}.svg)
