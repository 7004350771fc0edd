# Tests against a Samba Active Directory domain controller on 127.0.0.1
# (tools/sambadc/sambadc.py).
#
#   kx_add_samba_test(NAME SOURCES files... [LIBS libs...] [PROFILE recorded])
#
# Builds the test executable NAME and registers three ctest tests:
#   NAME.samba.start  fixture setup: provisions the domain once per build tree
#                     (<build>/samba-template), copies it into
#                     <build>/NAME.samba/, starts it and adds the test objects
#   NAME              the executable, run with KX_SAMBA_FACTS naming the
#                     fixture's facts file; Windows builds run it under Wine
#   NAME.samba.stop   fixture cleanup: stops that server by its PID
# PROFILE recorded gives the domain of the recorded Security logs instead of
# example.test (a template of its own). Samba's LDAP port is fixed, so every
# such test holds the resource lock "samba-dc". Without Samba installed the
# tests are not registered.
find_program(KX_SAMBA samba PATHS /usr/sbin)
find_program(KX_SAMBA_TOOL samba-tool)
set(KX_SAMBA_SCRIPT ${CMAKE_SOURCE_DIR}/tools/sambadc/sambadc.py)

function(kx_add_samba_test name)
  cmake_parse_arguments(ARG "" "PROFILE" "SOURCES;LIBS" ${ARGN})
  set(profile example)
  set(template ${CMAKE_BINARY_DIR}/samba-template)
  if(ARG_PROFILE)
    set(profile ${ARG_PROFILE})
    set(template ${CMAKE_BINARY_DIR}/samba-template-${ARG_PROFILE})
  endif()
  add_executable(${name} ${ARG_SOURCES})
  kx_apply_compile_options(${name})
  target_link_libraries(${name} PRIVATE kxtestsupport kxcore ${ARG_LIBS} ${KX_GTEST_LIBS})
  if(NOT KX_SAMBA OR NOT KX_SAMBA_TOOL)
    message(STATUS "Samba not found: ${name} is built but not run")
    return()
  endif()
  set(state ${CMAKE_CURRENT_BINARY_DIR}/${name}.samba)
  set(emulator "")
  if(CMAKE_CROSSCOMPILING)
    set(emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  add_test(NAME ${name}.samba.start
           COMMAND ${KX_PYTHON3} ${KX_SAMBA_SCRIPT} --profile ${profile} start --template ${template}
                   --state-dir ${state})
  add_test(NAME ${name}.samba.stop COMMAND ${KX_PYTHON3} ${KX_SAMBA_SCRIPT} stop --state-dir ${state})
  add_test(NAME ${name}
           COMMAND ${KX_PYTHON3} ${KX_SAMBA_SCRIPT} run --state-dir ${state} -- ${emulator}
                   $<TARGET_FILE:${name}>)
  set_tests_properties(${name}.samba.start PROPERTIES FIXTURES_SETUP ${name}.samba
                       RESOURCE_LOCK samba-dc TIMEOUT 300)
  # The lock is held test by test, not for a whole fixture: a fixture starts
  # only after the one registered before it has stopped.
  get_property(previous GLOBAL PROPERTY KX_LAST_SAMBA_FIXTURE)
  if(previous)
    set_tests_properties(${name}.samba.start PROPERTIES DEPENDS ${previous}.samba.stop)
  endif()
  set_property(GLOBAL PROPERTY KX_LAST_SAMBA_FIXTURE ${name})
  set_tests_properties(${name}.samba.stop PROPERTIES FIXTURES_CLEANUP ${name}.samba
                       RESOURCE_LOCK samba-dc)
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ${name}.samba RESOURCE_LOCK samba-dc
                       TIMEOUT 600)
endfunction()
