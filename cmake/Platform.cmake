# Platform-specific pieces of the build: the XML parser, system libraries, link rules.

# Plug-in libraries: the same function the package ships, and the mingw-w64 link options.
include(${CMAKE_CURRENT_LIST_DIR}/ORVEnginePlugin.cmake)

if(WIN32)
  # 32-bit Windows DLLs built with mingw-w64 (cmake/toolchain-i686-mingw32.cmake).
  enable_language(RC)
  set(CMAKE_SHARED_LIBRARY_PREFIX "")
  set(CMAKE_SHARED_MODULE_PREFIX "")

  # One C++ runtime per module but one shared unwinder for all of them (cmake/ORVEnginePlugin.cmake).
  add_link_options(${ORV_MINGW_RUNTIME_OPTIONS})
  # The two runtime DLLs that every module then needs go beside the executables.
  # (They are installed beside the engine DLL as well, see cmake/Install.cmake.)
  set(ORV_RUNTIME_DLLS "")
  foreach(dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${dll_path}" OR NOT EXISTS "${dll_path}")
      message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not ship ${dll}")
    endif()
    list(APPEND ORV_RUNTIME_DLLS ${dll_path})
    if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
      file(COPY ${dll_path} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    endif()
  endforeach()

  set(ORV_PLATFORM_LIBS "")
  # The message table as a string-table resource, linked into every module holding the engine core.
  set(ORV_ENGINE_RESOURCES ${PROJECT_SOURCE_DIR}/Common/Windows/ORVMessages.rc)

  # __stdcall exports lose their "@n" suffix, so GetProcAddress finds them by their plain names.
  # A DLL that executables link against also gets an import library that maps the decorated
  # symbols the compiler references onto those plain names.
  function(orv_export_plain_names target)
    target_link_options(${target} PRIVATE ${ORV_MINGW_PLAIN_EXPORTS})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
      if(NOT CMAKE_DLLTOOL)
        message(FATAL_ERROR "dlltool not found (needed for the import library of ${target})")
      endif()
      set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports.def)
      target_link_options(${target} PRIVATE -Wl,--output-def,${def})
      add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DDEF=${def} -DDLLTOOL=${CMAKE_DLLTOOL}
                -DDLL_NAME=$<TARGET_FILE_NAME:${target}> -DIMPORT_LIBRARY=$<TARGET_LINKER_FILE:${target}>
                -P ${PROJECT_SOURCE_DIR}/cmake/ImportLibrary.cmake
        VERBATIM)
    endif()
  endfunction()
else()
  # pugixml only for the benchmark's floor: the engine reads XML with its own reader.
  if(ORV_BUILD_BENCH)
    find_package(pugixml REQUIRED)
    set(ORV_PUGIXML_TARGET pugixml::pugixml)
  endif()
  set(ORV_PLATFORM_LIBS ${CMAKE_DL_LIBS})
  set(ORV_ENGINE_RESOURCES "")
  # Exports are plain extern "C" names already.
  function(orv_export_plain_names target)
  endfunction()
endif()
