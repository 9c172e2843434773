# Builds a project of a user's own against the installed engine, the way the README says, and runs
# it: cmake --install into a fresh prefix, find_package(ORVEngine) + orv_add_plugin, then the host
# once more with the pkg-config flags. Also checks that the README shows these files verbatim.
#   cmake -DSOURCE=<engine source> -DENGINE_BUILD=<engine build> -DSCRATCH=<folder> -DCXX=<compiler>
#         [-DTOOLCHAIN=<file>] [-DEMULATOR=<program|arg|...>] [-DSUBDIRECTORY=ON] -P ConsumerTest.cmake
# SUBDIRECTORY: also build the same host and plug-in in a project that adds the engine's source
# with add_subdirectory.
cmake_minimum_required(VERSION 3.20)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

set(consumer ${SOURCE}/tests/consumer)
set(prefix ${SCRATCH}/prefix)
set(app ${SCRATCH}/app)
file(REMOVE_RECURSE ${SCRATCH})

# The README's code is these files, verbatim.
file(READ ${SOURCE}/README.md readme)
foreach(pair "CMakeLists.txt|cmake" "host.cpp|cpp" "greeter.cpp|cpp" "plugin.xml|xml" "engine.xml|xml")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 language)
  file(READ ${consumer}/${name} content)
  string(FIND "${readme}" "<!-- file: tests/consumer/${name} -->\n```${language}\n${content}```" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "README.md does not show tests/consumer/${name} as it stands")
  endif()
endforeach()

# Install, then build the consumer with find_package.
run(${CMAKE_COMMAND} --install ${ENGINE_BUILD} --prefix ${prefix})
set(configure -S ${consumer} -B ${SCRATCH}/build -DCMAKE_BUILD_TYPE=Release)
if(TOOLCHAIN)
  # A cross build looks for packages in its sysroot only: name the package's folder.
  list(APPEND configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DORVEngine_DIR=${prefix}/lib/cmake/ORVEngine)
else()
  list(APPEND configure -DCMAKE_PREFIX_PATH=${prefix})
endif()
run(${CMAKE_COMMAND} ${configure})
run(${CMAKE_COMMAND} --build ${SCRATCH}/build)

# Deploy: the host with the engine's DLLs beside it (Windows), the configuration, the plug-in.
file(GLOB host ${SCRATCH}/build/host ${SCRATCH}/build/host.exe)
file(GLOB plugin ${SCRATCH}/build/greeter.so ${SCRATCH}/build/greeter.dll)
if(NOT host OR NOT plugin)
  message(FATAL_ERROR "the consumer build made no host or no plug-in")
endif()
get_filename_component(plugin_name ${plugin} NAME)
file(COPY ${host} ${consumer}/engine.xml DESTINATION ${app})
file(COPY ${plugin} DESTINATION ${app}/plugins/greeter)
file(READ ${consumer}/plugin.xml manifest)
string(REPLACE "greeter.so" "${plugin_name}" manifest "${manifest}")
file(WRITE ${app}/plugins/greeter/plugin.xml "${manifest}")
file(GLOB dlls ${prefix}/bin/*.dll)
if(dlls)
  file(COPY ${dlls} DESTINATION ${app})
endif()
string(REPLACE "|" ";" emulator "${EMULATOR}")

function(expect_greeting program)
  execute_process(COMMAND ${emulator} ${program} engine.xml WORKING_DIRECTORY ${app} RESULT_VARIABLE result
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r" "" out "${out}")
  if(NOT result EQUAL 0 OR NOT out STREQUAL "started\nHello, world!\nstopped\n")
    message(FATAL_ERROR "${program} exited ${result} and wrote:\n${out}\n${err}")
  endif()
endfunction()
get_filename_component(host_name ${host} NAME)
expect_greeting(${app}/${host_name})

# The same host, built with the flags pkg-config gives.
find_program(pkg_config pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/lib/pkgconfig)
execute_process(COMMAND ${pkg_config} --cflags --libs ORVEngine OUTPUT_VARIABLE flags RESULT_VARIABLE result
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know ORVEngine")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
set(pc_host ${app}/host-pc${CMAKE_EXECUTABLE_SUFFIX})
if(host_name MATCHES "\\.exe$")
  set(pc_host ${app}/host-pc.exe)
else()
  list(APPEND flags -Wl,-rpath,${prefix}/lib)
endif()
run(${CXX} -std=c++17 ${consumer}/host.cpp ${flags} -o ${pc_host})
expect_greeting(${pc_host})

if(SUBDIRECTORY)
  set(wrap ${SCRATCH}/subdirectory)
  file(WRITE ${wrap}/CMakeLists.txt "cmake_minimum_required(VERSION 3.20)
project(greeter_in_tree LANGUAGES CXX)
add_subdirectory(${SOURCE} orv)
add_executable(host ${consumer}/host.cpp)
target_link_libraries(host PRIVATE ORV::Engine)
orv_add_plugin(greeter ${consumer}/greeter.cpp)
")
  run(${CMAKE_COMMAND} -S ${wrap} -B ${wrap}/build -DCMAKE_BUILD_TYPE=Release)
  run(${CMAKE_COMMAND} --build ${wrap}/build --target host greeter -j 2)
  file(COPY ${wrap}/build/greeter.so DESTINATION ${app}/plugins/greeter)
  expect_greeting(${wrap}/build/host)
endif()
message(STATUS "consumer host and plug-in built against ${prefix} and run")
