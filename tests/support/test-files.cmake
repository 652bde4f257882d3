# pelkin_test_files: test files, sparse files and a self-signed certificate.
add_library(pelkin_test_files STATIC
  ${CMAKE_CURRENT_LIST_DIR}/TestFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TestFiles.h)
target_include_directories(pelkin_test_files PUBLIC "${CMAKE_CURRENT_LIST_DIR}")
target_link_libraries(pelkin_test_files PUBLIC Qt6::Core)
