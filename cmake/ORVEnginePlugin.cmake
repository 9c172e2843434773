# orv_add_plugin(<target> <source>...): a plug-in library for the ORV engine.
#
# Builds a MODULE library named <target> plus the platform's module suffix (greeter.so,
# greeter.dll), without a "lib" prefix, that sees the engine's headers (ORV::Interface) but never
# links the engine, and exports only what ORV_EXPORT marks. With mingw-w64 it also gets the link
# rules a plug-in needs: plain export names (GetPluginImpl, not GetPluginImpl@8) and one shared
# unwinder with the engine and the host (-static-libstdc++ -shared-libgcc).
# Shipped with the CMake package (find_package(ORVEngine)) and used by the engine's own examples
# and test plug-ins.

# The mingw-w64 link options of the engine, its hosts and its plug-ins, written here once:
#   ORV_MINGW_RUNTIME_OPTIONS  one C++ runtime per module but one shared unwinder for all of them
#                              (an exception thrown in a plug-in unwinds through the engine's
#                              frames into the host's);
#   ORV_MINGW_PLAIN_EXPORTS    __stdcall exports lose their "@n" suffix, so GetProcAddress finds
#                              them by their plain names.
set(ORV_MINGW_RUNTIME_OPTIONS -static-libstdc++ -shared-libgcc)
set(ORV_MINGW_PLAIN_EXPORTS -Wl,--kill-at)

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
    target_link_options(${target} PRIVATE ${ORV_MINGW_PLAIN_EXPORTS} ${ORV_MINGW_RUNTIME_OPTIONS})
  endif()
endfunction()
