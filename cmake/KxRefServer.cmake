# Tests against the reference server (tools/refserver/refserver.py).
#
#   kx_add_refserver_test(NAME SOURCES files... [LIBS libs...] [SERVER_ARGS args...]
#                         [ENVIRONMENT VAR=value...] [TLS])
#
# Builds the test executable NAME and registers three ctest tests:
#   NAME.refserver.start  fixture setup: starts a server of its own on free
#                         ports (127.0.0.1), state in <build>/NAME.refserver/
#   NAME                  the executable, run with KX_REFSERVER=127.0.0.1:PORT
#                         (service) and KX_REFSERVER_CONTROL=127.0.0.1:PORT
#                         (control) in its environment; Windows builds run it
#                         under Wine, which passes the environment on
#   NAME.refserver.stop   fixture cleanup: stops that server
# SERVER_ARGS go to "refserver.py start" (for example --definitions FILE,
# --ed-version 12, --config NAME=VALUE). In the test, CReferenceServer
# (tests/support/ReferenceServer.h) reads the address, switches faults and
# reads back what the server stored. The server's log and SQLite file stay in
# the state folder for a look after a failure.
#
# TLS: the service port speaks HTTPS. A fourth test, NAME.certificates, makes
# a test CA and server certificates first (tools/refserver/
# make-test-certificates.sh, openssl) in <state>/certificates, which the test
# finds in KX_TEST_CERTIFICATES; the server starts with server.pem.
#
#   kx_add_refserver_run(NAME COMMAND command... [SERVER_ARGS args...]
#                        [LABELS labels...] [SKIP_RETURN_CODE code])
#
# The same three tests for a command that is not built here (a script that
# drives the agent's programs): NAME runs the command with KX_REFSERVER and
# KX_REFSERVER_CONTROL set, against a server started with SERVER_ARGS.
find_program(KX_PYTHON3 python3 REQUIRED)
set(KX_REFSERVER_SCRIPT ${CMAKE_SOURCE_DIR}/tools/refserver/refserver.py)

function(kx_add_refserver_test name)
  cmake_parse_arguments(ARG "TLS" "" "SOURCES;LIBS;SERVER_ARGS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  kx_apply_compile_options(${name})
  target_link_libraries(${name} PRIVATE kxtestsupport kxcore ${ARG_LIBS} ${KX_GTEST_LIBS})
  set(state ${CMAKE_CURRENT_BINARY_DIR}/${name}.refserver)
  set(emulator "")
  if(CMAKE_CROSSCOMPILING)
    set(emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  if(ARG_TLS)
    set(certificates ${state}/certificates)
    add_test(NAME ${name}.certificates
             COMMAND sh ${CMAKE_SOURCE_DIR}/tools/refserver/make-test-certificates.sh ${certificates})
    set_tests_properties(${name}.certificates PROPERTIES FIXTURES_SETUP ${name}.certificates)
    list(APPEND ARG_SERVER_ARGS --tls ${certificates}/server.pem ${certificates}/server.key)
    list(APPEND ARG_ENVIRONMENT KX_TEST_CERTIFICATES=${certificates})
  endif()
  add_test(NAME ${name}.refserver.start
           COMMAND ${KX_PYTHON3} ${KX_REFSERVER_SCRIPT} start --state-dir ${state} --port 0
                   --sync normal ${ARG_SERVER_ARGS})
  if(ARG_TLS)
    set_tests_properties(${name}.refserver.start PROPERTIES FIXTURES_REQUIRED ${name}.certificates)
  endif()
  add_test(NAME ${name}.refserver.stop
           COMMAND ${KX_PYTHON3} ${KX_REFSERVER_SCRIPT} stop --state-dir ${state})
  add_test(NAME ${name}
           COMMAND ${KX_PYTHON3} ${KX_REFSERVER_SCRIPT} run --state-dir ${state} --
                   ${emulator} $<TARGET_FILE:${name}>)
  set_tests_properties(${name}.refserver.start PROPERTIES FIXTURES_SETUP ${name}.refserver)
  set_tests_properties(${name}.refserver.stop PROPERTIES FIXTURES_CLEANUP ${name}.refserver)
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ${name}.refserver TIMEOUT 600
                                           ENVIRONMENT "${ARG_ENVIRONMENT}")
endfunction()

function(kx_add_refserver_run name)
  cmake_parse_arguments(ARG "" "SKIP_RETURN_CODE" "COMMAND;SERVER_ARGS;LABELS" ${ARGN})
  set(state ${CMAKE_CURRENT_BINARY_DIR}/${name}.refserver)
  add_test(NAME ${name}.refserver.start
           COMMAND ${KX_PYTHON3} ${KX_REFSERVER_SCRIPT} start --state-dir ${state} --port 0
                   ${ARG_SERVER_ARGS})
  add_test(NAME ${name}.refserver.stop
           COMMAND ${KX_PYTHON3} ${KX_REFSERVER_SCRIPT} stop --state-dir ${state})
  add_test(NAME ${name}
           COMMAND ${KX_PYTHON3} ${KX_REFSERVER_SCRIPT} run --state-dir ${state} --
                   ${ARG_COMMAND})
  set_tests_properties(${name}.refserver.start PROPERTIES FIXTURES_SETUP ${name}.refserver)
  set_tests_properties(${name}.refserver.stop PROPERTIES FIXTURES_CLEANUP ${name}.refserver)
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ${name}.refserver TIMEOUT 600)
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if(DEFINED ARG_SKIP_RETURN_CODE)
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE ${ARG_SKIP_RETURN_CODE})
  endif()
endfunction()
