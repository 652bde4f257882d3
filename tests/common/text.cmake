# Text limits: grapheme counting and white-space trimming.
pelkin_add_test(tst_textlimits
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_textlimits.cpp
  LIBS pelkin_common
  LABEL unit)
