# kx_add_message_file(TARGET MC file.mc OUTPUT path.dll)
# A resource-only DLL of message texts, built with MinGW's windmc, windres and
# ld in every preset (the Linux event log port reads the same PE file that
# Windows loads). 32-bit Windows builds get a PE32 image.
find_program(KX_MSG_WINDMC x86_64-w64-mingw32-windmc REQUIRED)
find_program(KX_MSG_RC_PREPROCESSOR NAMES x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc
             REQUIRED)
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  find_program(KX_MSG_WINDRES i686-w64-mingw32-windres REQUIRED)
  find_program(KX_MSG_LD i686-w64-mingw32-ld REQUIRED)
else()
  find_program(KX_MSG_WINDRES x86_64-w64-mingw32-windres REQUIRED)
  find_program(KX_MSG_LD x86_64-w64-mingw32-ld REQUIRED)
endif()

function(kx_add_message_file target)
  cmake_parse_arguments(ARG "" "MC;OUTPUT" "" ${ARGN})
  get_filename_component(base ${ARG_MC} NAME_WE)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${target}.dir)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_MC})
  file(MAKE_DIRECTORY ${work})
  add_custom_command(
    OUTPUT ${ARG_OUTPUT}
    COMMAND ${KX_MSG_WINDMC} -C 65001 -h ${work} -r ${work} ${source}
    COMMAND ${KX_MSG_WINDRES} --preprocessor=${KX_MSG_RC_PREPROCESSOR} --preprocessor-arg=-E
            --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED -i ${work}/${base}.rc
            -o ${work}/${base}.o
    COMMAND ${KX_MSG_LD} -shared --entry=0 -s --no-insert-timestamp -o ${ARG_OUTPUT}
            ${work}/${base}.o
    DEPENDS ${source}
    WORKING_DIRECTORY ${work}
    COMMENT "Building the message file ${ARG_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${ARG_OUTPUT})
endfunction()
