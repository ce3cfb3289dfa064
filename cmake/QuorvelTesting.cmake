# GoogleTest: Debian's build for native trees, its sources for the MinGW tree.
if(BUILD_TESTING)
  if(CMAKE_CROSSCOMPILING)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()

# quorvel_add_test(NAME SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s])
# Builds a GoogleTest program. Natively each test case becomes a ctest test;
# under Wine the program is one test, since starting it costs a second or two.
function(quorvel_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "windows;${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
  else()
    # A list would be read as property names after its first element.
    string(REPLACE ";" "\\;" labels "${ARG_LABELS}")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30
      PROPERTIES LABELS "${labels}" TIMEOUT ${ARG_TIMEOUT})
  endif()
endfunction()
