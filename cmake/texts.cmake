# Texts are kept in UTF-8 under resources/ and compiled as they stand by both
# builds: the portable core works on UTF-8, and the Windows programs convert
# to UTF-16 at the system's edge.

# zp3k_compile_rc(OUT_VAR NAME): compiles resources/NAME.rc (UTF-8, with its
# ids in resources/NAME_ids.h when it has dialogs, the shared manifest and
# version block, whose numbers come from the generated zp3k_version.h) into
# an object file, read as code page 65001 so every text reaches the resource
# as written. OUT_VAR receives the object file to add to an executable.
function(zp3k_compile_rc out_var name)
  set(rc ${PROJECT_SOURCE_DIR}/resources/${name}.rc)
  set(rc_object ${CMAKE_CURRENT_BINARY_DIR}/${name}_rc.o)
  set(ids)
  if(EXISTS ${PROJECT_SOURCE_DIR}/resources/${name}_ids.h)
    set(ids ${PROJECT_SOURCE_DIR}/resources/${name}_ids.h)
  endif()
  add_custom_command(
    OUTPUT ${rc_object}
    COMMAND ${CMAKE_RC_COMPILER} -c 65001 -I ${PROJECT_SOURCE_DIR}/resources
            -I ${PROJECT_BINARY_DIR}/generated -i ${rc} -O coff -o ${rc_object}
    DEPENDS ${rc} ${ids}
            ${PROJECT_SOURCE_DIR}/resources/windows_program.manifest
            ${PROJECT_SOURCE_DIR}/resources/version_info.rc
            ${PROJECT_BINARY_DIR}/generated/zp3k_version.h
    COMMENT "Compiling the resources of ${name} (UTF-8)")
  set_source_files_properties(${rc_object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  set(${out_var} ${rc_object} PARENT_SCOPE)
endfunction()
