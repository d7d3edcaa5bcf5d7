# Texts are kept in UTF-8 under resources/. The Windows programs use the A
# functions with cp932 byte strings, so the cross build compiles cp932 copies
# made with iconv; the native build includes the UTF-8 files as they stand.
#
# zp3k_text_dir(OUT_VAR file1.inc file2.inc ...): sets OUT_VAR to the folder
# that holds the files in the build's encoding, for target_include_directories.
function(zp3k_text_dir out_var)
  if(NOT WIN32)
    set(${out_var} ${PROJECT_SOURCE_DIR}/resources PARENT_SCOPE)
    return()
  endif()
  set(dir ${PROJECT_BINARY_DIR}/cp932)
  file(MAKE_DIRECTORY ${dir})
  set(outputs)
  foreach(f ${ARGN})
    add_custom_command(
      OUTPUT ${dir}/${f}
      COMMAND python3 ${PROJECT_SOURCE_DIR}/cmake/cp932_literals.py
              ${PROJECT_SOURCE_DIR}/resources/${f} ${dir}/${f}
      DEPENDS ${PROJECT_SOURCE_DIR}/resources/${f} ${PROJECT_SOURCE_DIR}/cmake/cp932_literals.py
      COMMENT "cp932 copy of ${f}")
    list(APPEND outputs ${dir}/${f})
  endforeach()
  string(MAKE_C_IDENTIFIER "${ARGN}" tag)
  add_custom_target(cp932_${tag} DEPENDS ${outputs})
  set(${out_var} ${dir} PARENT_SCOPE)
  set(ZP3K_TEXT_TARGET cp932_${tag} PARENT_SCOPE)
endfunction()

# zp3k_compile_rc(OUT_VAR NAME): compiles resources/NAME.rc (UTF-8, with its
# ids in resources/NAME_ids.h) into an object file; windres reads a cp932
# copy so the Japanese template texts reach the resource in the programs'
# code page. OUT_VAR receives the object file to add to an executable.
function(zp3k_compile_rc out_var name)
  set(rc_utf8 ${PROJECT_SOURCE_DIR}/resources/${name}.rc)
  set(rc_cp932 ${CMAKE_CURRENT_BINARY_DIR}/${name}_cp932.rc)
  set(rc_object ${CMAKE_CURRENT_BINARY_DIR}/${name}_rc.o)
  add_custom_command(
    OUTPUT ${rc_object}
    COMMAND iconv -f UTF-8 -t CP932 ${rc_utf8} -o ${rc_cp932}
    COMMAND ${CMAKE_RC_COMPILER} -c 932 -I ${PROJECT_SOURCE_DIR}/resources
            -i ${rc_cp932} -O coff -o ${rc_object}
    DEPENDS ${rc_utf8} ${PROJECT_SOURCE_DIR}/resources/${name}_ids.h
    COMMENT "Compiling the dialog templates of ${name} (cp932)")
  set_source_files_properties(${rc_object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  set(${out_var} ${rc_object} PARENT_SCOPE)
endfunction()
