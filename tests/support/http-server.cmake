# pelkin_test_http: a real HTTP/1.1 (and HTTPS) server on 127.0.0.1 with
# scripted replies, for tests of anything that uploads.
add_library(pelkin_test_http STATIC
  ${CMAKE_CURRENT_LIST_DIR}/TestHttpServer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TestHttpServer.h)
target_include_directories(pelkin_test_http PUBLIC "${CMAKE_CURRENT_LIST_DIR}")
target_link_libraries(pelkin_test_http PUBLIC Qt6::Core Qt6::Network)
