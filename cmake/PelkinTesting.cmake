# pelkin_add_test(NAME
#                 [SOURCES file...]          build a test executable from these
#                 [COMMAND arg...]           or run this command (scripts, binaries)
#                 [LIBS target...]
#                 LABEL unit|gui|x11|e2e|a11y|service|wayland   (service: load and abuse tests of the upload service)
#                 [COMPOSITOR sway|kwin|gnome]  wayland tests only
#                 [TIMEOUT seconds]          default 120
#                 [ENVIRONMENT VAR=value...])
#
# unit and gui tests run on the offscreen platform; x11, e2e and a11y tests run
# under a private Xvfb that tests/support/with-xvfb.sh starts and stops, so
# they never share a display and may run in parallel. wayland tests run inside
# a private headless compositor with XWayland (tests/support/wayland/).
function(pelkin_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT;COMPOSITOR" "SOURCES;COMMAND;LIBS;ENVIRONMENT" ${ARGN})
  if(NOT T_LABEL MATCHES "^(unit|gui|x11|e2e|a11y|service|wayland)$")
    message(FATAL_ERROR "pelkin_add_test(${name}): LABEL must be unit, gui, x11, e2e, a11y, service or wayland")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(T_SOURCES)
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
    set(cmd $<TARGET_FILE:${name}>)
  else()
    set(cmd ${T_COMMAND})
  endif()
  if(T_LABEL MATCHES "^(unit|gui|service)$")
    add_test(NAME ${name} COMMAND ${cmd})
    set(env QT_QPA_PLATFORM=offscreen)
  elseif(T_LABEL STREQUAL "wayland")
    # A headless compositor (COMPOSITOR: sway, kwin or gnome) with XWayland.
    add_test(NAME ${name} COMMAND
      ${PELKIN_SOURCE_DIR}/tests/support/wayland/with-compositor.sh ${T_COMPOSITOR} ${cmd})
    set(env)
  else()
    add_test(NAME ${name} COMMAND ${PELKIN_SOURCE_DIR}/tests/support/with-xvfb.sh ${cmd})
    set(env QT_QPA_PLATFORM=xcb)
  endif()
  list(APPEND env
    "PELKIN_SOURCE_DIR=${PELKIN_SOURCE_DIR}"
    "PELKIN_BINARY_DIR=${PELKIN_BINARY_DIR}"
    "ASAN_OPTIONS=detect_leaks=0"
    # Uploads go to 127.0.0.1; a proxy from the environment must not catch them.
    "no_proxy=127.0.0.1,localhost,::1"
    "NO_PROXY=127.0.0.1,localhost,::1"
    ${T_ENVIRONMENT})
  set_tests_properties(${name} PROPERTIES
    LABELS ${T_LABEL}
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${env}")
endfunction()
