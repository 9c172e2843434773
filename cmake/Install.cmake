# cmake --install <build> --prefix <P> gives:
#   include/ORVEngine/        ORVInterface.h, ORVPluginHelpers.h
#   lib/libORVEngine.so.0.1.0 (SONAME libORVEngine.so.0)  |  bin/ORVEngine.dll, lib/libORVEngine.dll.a
#                                                           and the two mingw runtime DLLs in bin/
#   bin/orv-host, bin/orv-inspect
#   lib/cmake/ORVEngine/      the package: ORV::Engine, ORV::Interface, orv_add_plugin
#   lib/pkgconfig/ORVEngine.pc
option(ORV_INSTALL "Install the engine, its headers, tools and package files" ${ORV_TOP_LEVEL})
if(NOT ORV_INSTALL)
  return()
endif()

include(CMakePackageConfigHelpers)
set(ORV_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ORVEngine)

install(TARGETS ORVEngine ORVInterface EXPORT ORVEngineTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES Interface/ORVInterface.h Interface/ORVPluginHelpers.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ORVEngine)
install(TARGETS ${ORV_TOOL_TARGETS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  install(FILES ${ORV_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT ORVEngineTargets NAMESPACE ORV:: DESTINATION ${ORV_PACKAGE_DIR})
configure_package_config_file(cmake/ORVEngineConfig.cmake.in ${PROJECT_BINARY_DIR}/ORVEngineConfig.cmake
                              INSTALL_DESTINATION ${ORV_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ORVEngineConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ORVEngineConfig.cmake ${PROJECT_BINARY_DIR}/ORVEngineConfigVersion.cmake
              cmake/ORVEnginePlugin.cmake
        DESTINATION ${ORV_PACKAGE_DIR})

if(MINGW)
  list(JOIN ORV_MINGW_RUNTIME_OPTIONS " " ORV_PC_LIBS_PRIVATE)
else()
  set(ORV_PC_LIBS_PRIVATE "")
endif()
configure_file(cmake/ORVEngine.pc.in ${PROJECT_BINARY_DIR}/ORVEngine.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ORVEngine.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
