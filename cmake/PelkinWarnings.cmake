# Compiler warnings, and Qt's own strictness for the code that uses Qt.
option(PELKIN_WERROR "Treat compiler warnings as errors" OFF)

add_compile_options(-Wall -Wextra -Wpedantic)
if(PELKIN_WERROR)
  add_compile_options(-Werror)
endif()
if(PELKIN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Every text conversion between bytes and QString is spelled out in the
# product code (src/), which uses no Qt API deprecated up to the oldest Qt we
# build on. Tests and tools may still write QString literals as plain string
# literals (QT_RESTRICTED_CAST_FROM_ASCII and the deprecation limit are the
# next step for them).
set(PELKIN_QT_DEFINITIONS_src
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_DISABLE_DEPRECATED_UP_TO=0x060400)
set(PELKIN_QT_DEFINITIONS_other QT_NO_CAST_TO_ASCII)
# Folders whose targets do not use Qt (or are not ours to change).
set(PELKIN_QT_STRICT_SKIPPED_DIRS server tests/server)
# Product folders that keep plain string literals (literals only) or, for the
# views, no text-conversion limits (QML glue converts at every turn).
set(PELKIN_QT_STRICT_LENIENT_DIRS)
set(PELKIN_QT_STRICT_CASTS_ALLOWED_DIRS src/app/views)

function(pelkin_collect_targets dir out)
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    pelkin_collect_targets("${subdir}" more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Whether `folder` is one of `dirs` or lies inside one.
function(pelkin_folder_in folder dirs out)
  set(found FALSE)
  foreach(dir IN LISTS ${dirs})
    if(folder STREQUAL dir OR folder MATCHES "^${dir}/")
      set(found TRUE)
    endif()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Runs once every folder has been read, so it sees every target.
function(pelkin_apply_qt_strictness)
  pelkin_collect_targets("${PELKIN_SOURCE_DIR}" targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
      continue()
    endif()
    get_target_property(dir ${target} SOURCE_DIR)
    file(RELATIVE_PATH folder "${PELKIN_SOURCE_DIR}" "${dir}")
    pelkin_folder_in("${folder}" PELKIN_QT_STRICT_SKIPPED_DIRS skipped)
    pelkin_folder_in("${folder}" PELKIN_QT_STRICT_LENIENT_DIRS lenient)
    pelkin_folder_in("${folder}" PELKIN_QT_STRICT_CASTS_ALLOWED_DIRS casts)
    if(skipped)
      continue()
    elseif(casts)
      target_compile_definitions(${target} PRIVATE QT_DISABLE_DEPRECATED_UP_TO=0x060400)
    elseif(folder MATCHES "^src/" AND NOT lenient)
      target_compile_definitions(${target} PRIVATE ${PELKIN_QT_DEFINITIONS_src})
    else()
      target_compile_definitions(${target} PRIVATE ${PELKIN_QT_DEFINITIONS_other})
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL pelkin_apply_qt_strictness)
if(PELKIN_FUZZ)
  # Everything is instrumented for coverage feedback; only the fuzz targets link libFuzzer.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
