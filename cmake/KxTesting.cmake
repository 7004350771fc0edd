# Test executables: Debian's GoogleTest on Linux; on Windows GoogleTest built
# from Debian's sources with the cross compiler, run under Wine by ctest.
if(NOT KX_BUILD_TESTS)
  return()
endif()

if(WIN32)
  if(CMAKE_CROSSCOMPILING)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)
  endif()
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set(KX_GTEST_LIBS gtest gmock)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  set(KX_GTEST_LIBS GTest::gtest GTest::gmock)
endif()

# A zone that is not UTC and has daylight saving time, for tests that touch
# local time (ENVIRONMENT ${KX_TEST_TIME_ZONE}); Wine takes it over too.
set(KX_TEST_TIME_ZONE "TZ=Europe/Berlin")

# kx_add_gtest(NAME SOURCES... [LIBS libs...] [ENVIRONMENT VAR=value...])
# Linux: one ctest test per test case. Windows: one ctest test per executable,
# which keeps the number of Wine start-ups small.
function(kx_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  kx_apply_compile_options(${name})
  target_link_libraries(${name} PRIVATE kxtestsupport kxcore ${ARG_LIBS} ${KX_GTEST_LIBS})
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600 ENVIRONMENT "${ARG_ENVIRONMENT}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 300 ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
endfunction()
include(${CMAKE_SOURCE_DIR}/cmake/KxRefServer.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/KxSamba.cmake)
