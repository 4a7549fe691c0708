# The two editions, each a finprep.dll in a folder of its own under the build tree:
#   host/finprep.dll   host-instance edition (imports WriteLog from hostcore.dll)
#   local/finprep.dll  local-server edition (imports nothing of the host)
# Both export DoIt by name at ordinal 1 (finprep.def) and link the runtime statically, so they
# import system DLLs only.  The edition is fixed by a compile definition of the entry source.

# Import library for hostcore.dll, made from hostcore.def.  On 32-bit x86 WriteLog is __stdcall
# and its symbol carries the size of its arguments (WriteLog@12); the DLL exports the plain name.
if(CMAKE_DLLTOOL)
  set(FINPREP_DLLTOOL ${CMAKE_DLLTOOL})
else()
  string(REGEX REPLACE "g\\+\\+$" "dlltool" FINPREP_DLLTOOL "${CMAKE_CXX_COMPILER}")
endif()
set(hostcore_def ${CMAKE_CURRENT_SOURCE_DIR}/hostcore.def)
set(hostcore_lib ${CMAKE_CURRENT_BINARY_DIR}/libhostcore.a)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_custom_command(OUTPUT ${hostcore_lib}
    COMMAND ${FINPREP_DLLTOOL} --kill-at -d ${hostcore_def} -l ${hostcore_lib}
    DEPENDS ${hostcore_def}
    COMMENT "Import library for hostcore.dll")
else()
  # No decorations on 64-bit Windows.
  file(READ ${hostcore_def} def_text)
  string(REGEX REPLACE "@[0-9]+" "" def_text "${def_text}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/hostcore.def "${def_text}")
  add_custom_command(OUTPUT ${hostcore_lib}
    COMMAND ${FINPREP_DLLTOOL} -d ${CMAKE_CURRENT_BINARY_DIR}/hostcore.def -l ${hostcore_lib}
    DEPENDS ${hostcore_def}
    COMMENT "Import library for hostcore.dll")
endif()
add_custom_target(finprep_hostcore_import DEPENDS ${hostcore_lib})

foreach(edition host local)
  set(target finprep_${edition})
  if(edition STREQUAL "host")
    add_library(${target} MODULE
      ${CMAKE_CURRENT_SOURCE_DIR}/dllmain.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/host_log_hostcore.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/finprep.def)
    target_compile_definitions(${target} PRIVATE FINPREP_HOST_INSTANCE=1)
    add_dependencies(${target} finprep_hostcore_import)
    target_link_libraries(${target} PRIVATE ${hostcore_lib})
  else()
    add_library(${target} MODULE
      ${CMAKE_CURRENT_SOURCE_DIR}/dllmain.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/host_log_none.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/finprep.def)
    target_compile_definitions(${target} PRIVATE FINPREP_HOST_INSTANCE=0)
  endif()
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME finprep
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${edition}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${edition})
  target_link_libraries(${target} PRIVATE finprep_win32 finprep_odbc finprep_forms finprep_core)
  # -static: libstdc++, libgcc and the thread library are linked in, not imported.
  target_link_options(${target} PRIVATE -static -Wl,--enable-stdcall-fixup
                      $<$<CONFIG:MinSizeRel,Release>:-s>)
endforeach()
