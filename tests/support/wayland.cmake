# Wayland test kit (tests/support/wayland/): pelkin-test-vptr, the pointer
# driver for headless sway (wlr virtual pointer) and KWin (fake input); the
# compositor start scripts, with-compositor.sh and the Python tools are used
# from the source tree.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PELKIN_VPTR_WAYLAND IMPORTED_TARGET wayland-client)
pkg_get_variable(PELKIN_VPTR_SCANNER wayland-scanner wayland_scanner)
set(pelkin_kde_fake_input /usr/share/plasma-wayland-protocols/fake-input.xml)
if(NOT PELKIN_VPTR_WAYLAND_FOUND OR NOT PELKIN_VPTR_SCANNER OR NOT EXISTS ${pelkin_kde_fake_input})
  message(STATUS "tests: no libwayland-dev or plasma-wayland-protocols; Wayland tests are not built")
  return()
endif()
enable_language(C)
set(vptr_out ${CMAKE_CURRENT_BINARY_DIR}/vptr)
set(vptr_sources)
foreach(pair "wlr-virtual-pointer|${CMAKE_CURRENT_LIST_DIR}/wayland/protocols/wlr-virtual-pointer-unstable-v1.xml"
             "fake-input|${pelkin_kde_fake_input}")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 base)
  list(GET pair 1 xml)
  add_custom_command(OUTPUT ${vptr_out}/${base}-client.h ${vptr_out}/${base}.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${vptr_out}
    COMMAND ${PELKIN_VPTR_SCANNER} client-header ${xml} ${vptr_out}/${base}-client.h
    COMMAND ${PELKIN_VPTR_SCANNER} private-code ${xml} ${vptr_out}/${base}.c
    DEPENDS ${xml} VERBATIM)
  list(APPEND vptr_sources ${vptr_out}/${base}-client.h ${vptr_out}/${base}.c)
endforeach()
add_executable(pelkin-test-vptr ${CMAKE_CURRENT_LIST_DIR}/wayland/vptr.c ${vptr_sources})
target_include_directories(pelkin-test-vptr PRIVATE ${vptr_out})
target_link_libraries(pelkin-test-vptr PRIVATE PkgConfig::PELKIN_VPTR_WAYLAND)
