# Texts are kept in UTF-8 under resources/ and compiled as they stand by both
# builds: the portable core works on UTF-8, and the Windows programs convert
# to UTF-16 at the system's edge.
#
# zp3k_text_dir(OUT_VAR file1.inc file2.inc ...): sets OUT_VAR to the folder
# that holds the message tables, for target_include_directories, and
# ZP3K_TEXT_TARGET to a target that lists them (a dependency that builds
# nothing).
function(zp3k_text_dir out_var)
  set(${out_var} ${PROJECT_SOURCE_DIR}/resources PARENT_SCOPE)
  if(NOT TARGET zp3k_message_tables)
    file(GLOB tables ${PROJECT_SOURCE_DIR}/resources/*.inc)
    add_custom_target(zp3k_message_tables SOURCES ${tables})
  endif()
  set(ZP3K_TEXT_TARGET zp3k_message_tables PARENT_SCOPE)
endfunction()

# zp3k_compile_rc(OUT_VAR NAME): compiles resources/NAME.rc (UTF-8, with its
# ids in resources/NAME_ids.h, the shared manifest and version block) into an
# object file, read as code page 65001 so every text reaches the resource as
# written. OUT_VAR receives the object file to add to an executable.
function(zp3k_compile_rc out_var name)
  set(rc ${PROJECT_SOURCE_DIR}/resources/${name}.rc)
  set(rc_object ${CMAKE_CURRENT_BINARY_DIR}/${name}_rc.o)
  add_custom_command(
    OUTPUT ${rc_object}
    COMMAND ${CMAKE_RC_COMPILER} -c 65001 -I ${PROJECT_SOURCE_DIR}/resources
            -i ${rc} -O coff -o ${rc_object}
    DEPENDS ${rc} ${PROJECT_SOURCE_DIR}/resources/${name}_ids.h
            ${PROJECT_SOURCE_DIR}/resources/windows_program.manifest
            ${PROJECT_SOURCE_DIR}/resources/version_info.rc
    COMMENT "Compiling the resources of ${name} (UTF-8)")
  set_source_files_properties(${rc_object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  set(${out_var} ${rc_object} PARENT_SCOPE)
endfunction()
