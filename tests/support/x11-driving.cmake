# pelkin_test_x11: X11Driver, for tests that drive a real X server with
# xdotool and xclip and start the drag sources of drag-sources.cmake.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PELKIN_TEST_XCB REQUIRED IMPORTED_TARGET xcb)
add_library(pelkin_test_x11 STATIC
  ${CMAKE_CURRENT_LIST_DIR}/X11Driver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/X11Driver.h)
target_include_directories(pelkin_test_x11 PUBLIC "${CMAKE_CURRENT_LIST_DIR}")
target_link_libraries(pelkin_test_x11 PUBLIC Qt6::Core Qt6::Test PRIVATE PkgConfig::PELKIN_TEST_XCB)
target_compile_definitions(pelkin_test_x11 PRIVATE
  PELKIN_QT_DRAG_SOURCE="$<TARGET_FILE:pelkin-test-drag-source>"
  PELKIN_GTK_DRAG_SOURCE="${CMAKE_CURRENT_LIST_DIR}/gtk-drag-source.py")
add_dependencies(pelkin_test_x11 pelkin-test-drag-source)
