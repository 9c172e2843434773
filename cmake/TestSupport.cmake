# How the test suites find GoogleTest and register their tests on this platform.
# ORV_TEST_BIN_DIR: the output folder as the test programs see it.
if(NOT WIN32)
  find_package(GTest REQUIRED)
  set(ORV_GTEST_TARGETS GTest::gtest GTest::gtest_main)
  set(ORV_TEST_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
  function(orv_discover_tests target)
    gtest_discover_tests(${target} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin DISCOVERY_TIMEOUT 60)
  endfunction()
else()
  # GoogleTest built from the Debian sources (package googletest), only the parts the suites use.
  set(ORV_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source folder")
  if(NOT EXISTS ${ORV_GOOGLETEST_SOURCE_DIR}/googletest/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources missing in ${ORV_GOOGLETEST_SOURCE_DIR}: run scripts/setup-deps --windows")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${ORV_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(ORV_GTEST_TARGETS GTest::gtest GTest::gtest_main)

  # Under wine the build machine's root is drive Z:.
  if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
    set(ORV_TEST_BIN_DIR Z:${CMAKE_BINARY_DIR}/bin)
  else()
    set(ORV_TEST_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
  endif()
  # zh_CN makes wine's process code page 936, the one the Chinese message table is converted to.
  # Only the tests get it: Linux tools warn about a locale that is not generated.
  function(orv_discover_tests target)
    gtest_discover_tests(${target} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "LC_ALL=zh_CN.UTF-8")
  endfunction()
endif()

# A test plug-in; its target name is collected so the suites build after it.
function(orv_add_test_plugin target)
  orv_add_plugin(${target} ${ARGN})
  set(ORV_TEST_PLUGIN_TARGETS ${ORV_TEST_PLUGIN_TARGETS} ${target} CACHE INTERNAL "")
endfunction()
