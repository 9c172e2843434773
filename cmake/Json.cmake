# nlohmann/json (Debian's nlohmann-json3-dev, header-only), for orv-inspect's JSON report and the
# tests that read it: the target nlohmann_json::nlohmann_json.
find_package(nlohmann_json 3.9 QUIET)
if(NOT nlohmann_json_FOUND AND CMAKE_CROSSCOMPILING)
  # A cross sysroot (mingw-w64) does not hold it, and the build machine's package would put its
  # whole include folder (/usr/include) before the cross compiler's own headers. Only the
  # nlohmann folder is linked into a folder of the build tree, and the target points there.
  find_path(ORV_NLOHMANN_JSON_DIR nlohmann/json.hpp PATHS /usr/include /usr/local/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH DOC "The folder that holds nlohmann/json.hpp")
  if(ORV_NLOHMANN_JSON_DIR)
    set(include_dir ${CMAKE_BINARY_DIR}/nlohmann-json/include)
    file(MAKE_DIRECTORY ${include_dir})
    file(CREATE_LINK ${ORV_NLOHMANN_JSON_DIR}/nlohmann ${include_dir}/nlohmann SYMBOLIC COPY_ON_ERROR)
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
    set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${include_dir})
    set(nlohmann_json_FOUND TRUE)
  endif()
endif()
if(NOT nlohmann_json_FOUND)
  message(FATAL_ERROR "nlohmann/json not found: run scripts/setup-deps (package nlohmann-json3-dev)")
endif()
