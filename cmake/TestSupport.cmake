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
  set(ORV_TEST_ENVIRONMENT ENVIRONMENT "LC_ALL=zh_CN.UTF-8")
  # Wine names files on the build machine in the charset of that locale; where it is not generated
  # the charset is ASCII and every non-ASCII file name fails. So the build folder gets its own copy
  # of the locale (package locales), found through LOCPATH by the tests alone. (A second variable
  # goes in ENVIRONMENT_MODIFICATION: gtest_discover_tests loses the separators of a list.)
  if(CMAKE_HOST_UNIX)
    set(ORV_TEST_LOCALES ${CMAKE_BINARY_DIR}/locale)
    find_program(ORV_LOCALEDEF localedef)
    if(NOT EXISTS ${ORV_TEST_LOCALES}/zh_CN.UTF-8/LC_CTYPE AND ORV_LOCALEDEF
       AND EXISTS /usr/share/i18n/locales/zh_CN)
      file(MAKE_DIRECTORY ${ORV_TEST_LOCALES})
      execute_process(COMMAND ${ORV_LOCALEDEF} -i zh_CN -f UTF-8 ${ORV_TEST_LOCALES}/zh_CN.UTF-8 OUTPUT_QUIET ERROR_QUIET)
    endif()
    if(EXISTS ${ORV_TEST_LOCALES}/zh_CN.UTF-8/LC_CTYPE)
      list(APPEND ORV_TEST_ENVIRONMENT ENVIRONMENT_MODIFICATION "LOCPATH=set:${ORV_TEST_LOCALES}")
    else()
      message(WARNING "no zh_CN.UTF-8 locale for the tests (install package locales): "
                      "tests with non-ASCII file names will fail under wine")
    endif()
  endif()
  function(orv_discover_tests target)
    gtest_discover_tests(${target} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin DISCOVERY_TIMEOUT 60
                         PROPERTIES ${ORV_TEST_ENVIRONMENT})
  endfunction()
endif()

# A test plug-in; its target name is collected so the suites build after it.
# g++ emits the interfaces' IID constants as unique global symbols, and a library holding one is
# never unloaded: -fno-gnu-unique lets the test plug-ins really go, so that the suites see code
# that runs after its library was unloaded.
function(orv_add_test_plugin target)
  orv_add_plugin(${target} ${ARGN})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32)
    target_compile_options(${target} PRIVATE -fno-gnu-unique)
  endif()
  set(ORV_TEST_PLUGIN_TARGETS ${ORV_TEST_PLUGIN_TARGETS} ${target} CACHE INTERNAL "")
endfunction()
