# pelkin_test_service: ServerProcess, the build tree's pelkin-upload-server started on
# 127.0.0.1 for a test (server component only).
if("server" IN_LIST PELKIN_COMPONENTS)
  add_library(pelkin_test_service STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ServerProcess.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ServerProcess.h)
  target_include_directories(pelkin_test_service PUBLIC "${CMAKE_CURRENT_LIST_DIR}")
  target_link_libraries(pelkin_test_service PUBLIC Qt6::Core)
  target_compile_definitions(pelkin_test_service PUBLIC
    PELKIN_UPLOAD_SERVER="$<TARGET_FILE:pelkin-upload-server>")
  add_dependencies(pelkin_test_service pelkin-upload-server)
endif()
