# Test suites: one GoogleTest program per source area (src/log -> log_tests),
# built from the *_test.cc files beside the code, plus the small helper
# programs in tests/support/programs that the tests start as real processes.
# All of them land in one folder, from which the tests find the helpers.

if(WIN32)
  # GoogleTest built from source with the cross compiler.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(WENDRAKE_GTEST gtest)
  set(WENDRAKE_GMOCK gmock)
else()
  find_package(GTest REQUIRED)
  set(WENDRAKE_GTEST GTest::gtest)
  set(WENDRAKE_GMOCK GTest::gmock)
endif()

set(WENDRAKE_TEST_BIN ${CMAKE_BINARY_DIR}/testbin)

wendrake_sources(support_sources ${CMAKE_SOURCE_DIR}/tests/support)
list(FILTER support_sources EXCLUDE REGEX "/programs/")
add_library(wendrake_test_support STATIC ${support_sources})
target_include_directories(wendrake_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests/support)
target_link_libraries(wendrake_test_support PUBLIC wendrake_core ${WENDRAKE_GTEST} ${WENDRAKE_GMOCK}
  PRIVATE wendrake_warnings)

wendrake_sources(program_sources ${CMAKE_SOURCE_DIR}/tests/support/programs)
set(WENDRAKE_TEST_PROGRAMS "")
foreach(src IN LISTS program_sources)
  get_filename_component(name ${src} NAME_WE)
  string(REGEX REPLACE "-(win32|posix)$" "" name ${name})
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE wendrake_core wendrake_warnings)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WENDRAKE_TEST_BIN})
  list(APPEND WENDRAKE_TEST_PROGRAMS ${name})
endforeach()

wendrake_sources(test_sources ${CMAKE_SOURCE_DIR}/src)
list(FILTER test_sources INCLUDE REGEX "_test\\.cc$")
set(areas "")
foreach(src IN LISTS test_sources)
  file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/src ${src})
  string(REGEX REPLACE "/.*" "" area ${rel})
  list(APPEND areas ${area})
  list(APPEND ${area}_tests_sources ${src})
endforeach()
list(REMOVE_DUPLICATES areas)

foreach(area IN LISTS areas)
  set(target ${area}_tests)
  add_executable(${target} ${${area}_tests_sources})
  target_link_libraries(${target} PRIVATE wendrake_test_support wendrake_warnings)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WENDRAKE_TEST_BIN})
  if(WENDRAKE_TEST_PROGRAMS)
    add_dependencies(${target} ${WENDRAKE_TEST_PROGRAMS})
  endif()
  add_test(NAME ${area} COMMAND ${target} WORKING_DIRECTORY ${WENDRAKE_TEST_BIN})
  set_tests_properties(${area} PROPERTIES TIMEOUT 600)
  if(WIN32)
    # Named mutexes (KSFF01, ...) are shared by every process of the Wine
    # session, as by every process of a Windows session: suites that scan
    # or run the program must not overlap.
    set_tests_properties(${area} PROPERTIES RESOURCE_LOCK named_mutexes)
  endif()
endforeach()

# End-to-end scenarios: the program itself, started as a real process in
# temporary start directories.
wendrake_sources(e2e_sources ${CMAKE_SOURCE_DIR}/tests/e2e)
if(e2e_sources)
  add_executable(e2e_tests ${e2e_sources})
  target_include_directories(e2e_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/e2e)
  target_link_libraries(e2e_tests PRIVATE wendrake_test_support wendrake_warnings)
  # What the program should call itself, and where the package is made from.
  target_compile_definitions(e2e_tests PRIVATE "WENDRAKE_VERSION=\"${PROJECT_VERSION}\""
    "WENDRAKE_BINARY_DIR=\"${CMAKE_BINARY_DIR}\"")
  set_target_properties(e2e_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WENDRAKE_TEST_BIN})
  if(WIN32)
    # GetFileVersionInfoA, to read the program's version resource.
    target_link_libraries(e2e_tests PRIVATE version)
  endif()
  add_dependencies(e2e_tests wendrake_program ${WENDRAKE_TEST_PROGRAMS})
  add_test(NAME e2e COMMAND e2e_tests WORKING_DIRECTORY ${WENDRAKE_TEST_BIN})
  set_tests_properties(e2e PROPERTIES TIMEOUT 900)
  if(WIN32)
    set_tests_properties(e2e PROPERTIES RESOURCE_LOCK named_mutexes)
  endif()
endif()

# Under Wine the shared-folder scenario watches drive S:, a FUSE mount typed
# "network" in the suites' prefix, set up and taken down by the host's
# shell around the suites. Each step ends the prefix's server: no suite
# may run meanwhile.
if(WIN32 AND TARGET e2e_tests)
  set(share_script ${CMAKE_SOURCE_DIR}/tests/e2e/wine-share.sh)
  set(share_args ${CMAKE_BINARY_DIR}/wineprefix ${CMAKE_BINARY_DIR}/share)
  add_test(NAME share_up COMMAND bash ${share_script} up ${share_args})
  add_test(NAME share_down COMMAND bash ${share_script} down ${share_args})
  set_tests_properties(share_up PROPERTIES FIXTURES_SETUP wine_share RESOURCE_LOCK named_mutexes)
  set_tests_properties(share_down PROPERTIES FIXTURES_CLEANUP wine_share
                       RESOURCE_LOCK named_mutexes)
  set_tests_properties(e2e PROPERTIES FIXTURES_REQUIRED wine_share
                       ENVIRONMENT "WENDRAKE_SHARE_BACKING=${CMAKE_BINARY_DIR}/share/back")
endif()

# The Windows zip, made and looked into on this host.
if(WIN32)
  add_test(NAME package COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/windows-zip.sh
    ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
endif()
