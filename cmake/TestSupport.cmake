# How the test suites find GoogleTest and register their tests on this platform.
if(NOT WIN32)
  find_package(GTest REQUIRED)
  set(ORV_GTEST_TARGETS GTest::gtest GTest::gtest_main)
  function(orv_discover_tests target)
    gtest_discover_tests(${target} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin DISCOVERY_TIMEOUT 60)
  endfunction()
endif()

# A test plug-in; its target name is collected so the suites build after it.
function(orv_add_test_plugin target)
  orv_add_plugin(${target} ${ARGN})
  set(ORV_TEST_PLUGIN_TARGETS ${ORV_TEST_PLUGIN_TARGETS} ${target} CACHE INTERNAL "")
endfunction()
