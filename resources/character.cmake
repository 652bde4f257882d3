# The riding character's artwork and the tray icons made from its silhouette.
# The SVG files are the sources; the PNG files are rendered at build time with
# Qt Svg and compiled into the target pelkin_character_resources under
# ":/pelkin/".
add_executable(pelkin_render_svg "${CMAKE_CURRENT_LIST_DIR}/character/render-svg.cpp")
target_link_libraries(pelkin_render_svg PRIVATE Qt6::Gui Qt6::Svg)
set_target_properties(pelkin_render_svg PROPERTIES AUTOMOC OFF)

set(pelkin_character_pngs)
foreach(entry "DropCharacter:512" "DropCharacterTray:128" "DropCharacterTrayDark:128"
              "DropCharacterTrayHighlighted:128")
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 name)
  list(GET entry 1 size)
  set(svg "${CMAKE_CURRENT_LIST_DIR}/character/${name}.svg")
  set(png "${CMAKE_CURRENT_BINARY_DIR}/character/${name}.png")
  add_custom_command(OUTPUT "${png}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/character"
    COMMAND pelkin_render_svg "${svg}" "${png}" ${size}
    DEPENDS "${svg}" pelkin_render_svg
    COMMENT "Rendering ${name}.png"
    VERBATIM)
  set_source_files_properties("${png}" PROPERTIES GENERATED TRUE QT_RESOURCE_ALIAS "${name}.png")
  list(APPEND pelkin_character_pngs "${png}")
endforeach()

# An object library, so the resource initialiser is linked wherever
# pelkin_common goes (the loader also calls Q_INIT_RESOURCE to be sure).
add_library(pelkin_character_resources OBJECT)
qt_add_resources(pelkin_character_resources pelkin_character
  PREFIX "/pelkin"
  FILES ${pelkin_character_pngs})
target_compile_definitions(pelkin_character_resources INTERFACE PELKIN_HAS_CHARACTER_RESOURCES)
target_link_libraries(pelkin_character_resources PUBLIC Qt6::Core)
