# X11 drag sources for tests: pelkin-test-drag-source (Qt) and
# gtk-drag-source.py (GTK 3 through python3-gi). See the comment at the top
# of each for the command line. Tests find them through
# $<TARGET_FILE:pelkin-test-drag-source> and
# ${PELKIN_SOURCE_DIR}/tests/support/gtk-drag-source.py.
add_executable(pelkin-test-drag-source ${CMAKE_CURRENT_LIST_DIR}/qt-drag-source.cpp)
target_link_libraries(pelkin-test-drag-source PRIVATE Qt6::Widgets)
