# Resources from a resource description (.rc) for a target. On Windows the
# description is compiled as usual. On the host each line of the form
#   <id> <TYPE> "<file>"
# puts the file, byte for byte, into an ELF section ".rsrc.<TYPE>.<id>" of the
# target, where the host layer finds it again by the module's path.
if(WIN32)
  enable_language(RC)
endif()

function(quarnel_resources target rc)
  get_filename_component(rc ${rc} ABSOLUTE)
  if(WIN32)
    target_sources(${target} PRIVATE ${rc})
    return()
  endif()
  get_filename_component(dir ${rc} DIRECTORY)
  file(STRINGS ${rc} lines)
  set(code "// Generated from ${rc}.\n")
  set(files "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*([A-Za-z0-9_]+)[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+\"([^\"]+)\"[ \t]*$")
      set(id ${CMAKE_MATCH_1})
      string(TOUPPER ${CMAKE_MATCH_2} type)
      get_filename_component(file ${CMAKE_MATCH_3} ABSOLUTE BASE_DIR ${dir})
      string(APPEND code "__asm__(\".section .rsrc.${type}.${id},\\\"a\\\"\\n\"\n"
                         "        \".incbin \\\"${file}\\\"\\n\"\n"
                         "        \".previous\\n\");\n")
      list(APPEND files ${file})
    endif()
  endforeach()
  get_filename_component(name ${rc} NAME_WE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_${name}_resources.c)
  file(GENERATE OUTPUT ${out} CONTENT "${code}")
  set_source_files_properties(${out} PROPERTIES OBJECT_DEPENDS "${files}")
  target_sources(${target} PRIVATE ${out})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${rc})
endfunction()
