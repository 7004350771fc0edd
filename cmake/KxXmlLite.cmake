# kx_xmllite_import_library(<target>): links <target> with an import library
# for xmllite.dll, made with dlltool from cmake/xmllite.def.in. 32-bit names
# carry the __stdcall decoration that dlltool strips again with --kill-at.
function(kx_xmllite_import_library target)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(KX_XMLLITE_AT12 "@12")
    set(KX_XMLLITE_AT16 "@16")
  else()
    set(KX_XMLLITE_AT12 "")
    set(KX_XMLLITE_AT16 "")
  endif()
  set(def ${CMAKE_CURRENT_BINARY_DIR}/xmllite.def)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/libxmllite.a)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/xmllite.def.in ${def} @ONLY)
  add_custom_command(OUTPUT ${lib}
                     COMMAND ${KX_DLLTOOL} --kill-at -d ${def} -l ${lib}
                     DEPENDS ${def}
                     COMMENT "Making the xmllite.dll import library")
  add_custom_target(kx_xmllite_import DEPENDS ${lib})
  add_dependencies(${target} kx_xmllite_import)
  target_link_libraries(${target} PUBLIC ${lib})
endfunction()
