# pelkin-upload-server as a system service: the systemd unit, the options file
# it reads (/etc/default/pelkin-upload-server with the /usr prefix) and the man
# page. The files live beside the service in server/.
if("server" IN_LIST PELKIN_COMPONENTS)
  include(GNUInstallDirs)
  set(pelkin_server_dir "${PELKIN_SOURCE_DIR}/server")
  # Debian 12 keeps units in /lib/systemd/system; debian/rules says so.
  set(PELKIN_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
      "Where the service's systemd unit is installed (relative: under the prefix)")
  set(PELKIN_SERVER_UNIT_FILE "${CMAKE_CURRENT_BINARY_DIR}/server/pelkin-upload-server.service"
      CACHE INTERNAL "")
  configure_file("${pelkin_server_dir}/pelkin-upload-server.service.in" "${PELKIN_SERVER_UNIT_FILE}"
                 @ONLY)
  install(FILES "${PELKIN_SERVER_UNIT_FILE}" DESTINATION "${PELKIN_SYSTEMD_UNIT_DIR}")
  install(FILES "${pelkin_server_dir}/pelkin-upload-server.default"
          DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default RENAME pelkin-upload-server)
  configure_file("${pelkin_server_dir}/pelkin-upload-server.1.in"
                 "${CMAKE_CURRENT_BINARY_DIR}/man/pelkin-upload-server.1" @ONLY)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/man/pelkin-upload-server.1"
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
