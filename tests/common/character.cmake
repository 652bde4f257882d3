# The riding character: artwork, drawn fallbacks, mirroring and positions.
pelkin_add_test(tst_character
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_character.cpp
  LIBS pelkin_common
  LABEL unit)
