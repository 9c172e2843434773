# orv_add_plugin(<target> <source>...): a plug-in library for the ORV engine.
#
# Builds a MODULE library named <target> plus the platform's module suffix (greeter.so,
# greeter.dll), without a "lib" prefix, that sees the engine's headers (ORV::Interface) but never
# links the engine, and exports only what ORV_EXPORT marks. With mingw-w64 it also gets the link
# rules a plug-in needs: plain export names (GetPluginImpl, not GetPluginImpl@8) and one shared
# unwinder with the engine and the host (-static-libstdc++ -shared-libgcc).
# Shipped with the CMake package (find_package(ORVEngine)) and used by the engine's own examples
# and test plug-ins.
function(orv_add_plugin target)
  if(NOT ARGN)
    message(FATAL_ERROR "orv_add_plugin(${target}): no source files given")
  endif()
  add_library(${target} MODULE ${ARGN})
  target_link_libraries(${target} PRIVATE ORV::Interface)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(MINGW)
    target_link_options(${target} PRIVATE -Wl,--kill-at -static-libstdc++ -shared-libgcc)
  endif()
endfunction()
