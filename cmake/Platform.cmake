# Platform-specific pieces of the build: the XML parser, system libraries, link rules.

if(WIN32)
  # Filled in by the Windows cross build.
  message(FATAL_ERROR "Windows build not configured yet")
else()
  find_package(pugixml REQUIRED)
  set(ORV_PUGIXML_TARGET pugixml::pugixml)
  set(ORV_PLATFORM_LIBS ${CMAKE_DL_LIBS})
  set(ORV_ENGINE_RESOURCES "")
  # Exports are plain extern "C" names already.
  function(orv_export_plain_names target)
  endfunction()
endif()

# A plug-in library: a loadable module with the plug-in link rules of this platform.
function(orv_add_plugin target)
  add_library(${target} MODULE ${ARGN})
  target_link_libraries(${target} PRIVATE ORVInterface)
  set_target_properties(${target} PROPERTIES PREFIX "")
  orv_export_plain_names(${target})
endfunction()
