# Rebuilds the import library of a DLL linked with -Wl,--kill-at (run after the link step):
#   cmake -DDEF=<--output-def file> -DDLLTOOL=<dlltool> -DDLL_NAME=<x.dll> -DIMPORT_LIBRARY=<libx.dll.a>
#         -P ImportLibrary.cmake
# The linker's own import library names the plain exports, while callers compiled with __stdcall
# prototypes reference the decorated symbols (_imp__SetLogger@4). dlltool -k builds one that maps
# the decorated symbols onto the plain export names.
file(STRINGS ${DEF} lines)
set(decorated "EXPORTS\n")
foreach(line IN LISTS lines)
  # "    SetLogger = SetLogger@4 @3" -> "    SetLogger@4 @3"; cdecl exports stay as they are.
  if(line MATCHES "^[ \t]+[^ \t=]+ = ([^ \t]+)(.*)$")
    string(APPEND decorated "    ${CMAKE_MATCH_1}${CMAKE_MATCH_2}\n")
  elseif(line MATCHES "^[ \t]+[^ \t]")
    string(APPEND decorated "${line}\n")
  endif()
endforeach()
set(stdcall_def ${DEF}.stdcall)
file(WRITE ${stdcall_def} "${decorated}")
execute_process(COMMAND ${DLLTOOL} -k -d ${stdcall_def} -l ${IMPORT_LIBRARY} -D ${DLL_NAME}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "dlltool failed to build ${IMPORT_LIBRARY}")
endif()
