# The Windows DLLs as part of the native build: one MinGW-w64 build of this same source tree per
# toolchain, in a folder under the native build tree, rebuilt at every build so that edits are
# picked up.  i686 makes the shipped DLLs (checked statically by tests/dlls), x86_64 the same
# sources for the tests under Wine.
#
# Sets FINPREP_MINGW_<arch>_DIR to the build folder of each toolchain that is installed; for a
# missing one it stays empty and the tests that need it report themselves skipped.
include(ExternalProject)

option(FINPREP_CROSS_BUILDS "Build the Windows DLLs with MinGW-w64 along with the native build" ON)

foreach(arch i686 x86_64)
  set(FINPREP_MINGW_${arch}_DIR "")
  if(arch STREQUAL "i686")
    set(build_type MinSizeRel)
  else()
    set(build_type Debug)
  endif()
  find_program(FINPREP_MINGW_${arch}_CXX ${arch}-w64-mingw32-g++)
  find_program(FINPREP_MINGW_${arch}_WINDRES ${arch}-w64-mingw32-windres)
  find_program(FINPREP_MINGW_${arch}_DLLTOOL ${arch}-w64-mingw32-dlltool)
  if(NOT FINPREP_CROSS_BUILDS)
    message(STATUS "Windows DLLs (${arch}): not built (FINPREP_CROSS_BUILDS is OFF)")
  elseif(NOT FINPREP_MINGW_${arch}_CXX OR NOT FINPREP_MINGW_${arch}_WINDRES
         OR NOT FINPREP_MINGW_${arch}_DLLTOOL)
    message(STATUS "Windows DLLs (${arch}): MinGW-w64 ${arch} tools not found, not built "
                   "(Debian: g++-mingw-w64-${arch} binutils-mingw-w64-${arch})")
  else()
    set(FINPREP_MINGW_${arch}_DIR ${CMAKE_BINARY_DIR}/mingw-${arch})
    ExternalProject_Add(finprep_mingw_${arch}
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${FINPREP_MINGW_${arch}_DIR}
      PREFIX ${CMAKE_BINARY_DIR}/cross/${arch}
      CMAKE_GENERATOR Ninja
      CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-${arch}.cmake
        -DCMAKE_BUILD_TYPE=${build_type}
        -DFINPREP_SANITIZE=OFF
      # Two jobs: the machines that build this are small and shared.
      BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> -j 2
      BUILD_ALWAYS ON
      USES_TERMINAL_BUILD ON
      INSTALL_COMMAND ""
    )
    message(STATUS "Windows DLLs (${arch}): built in ${FINPREP_MINGW_${arch}_DIR}")
  endif()
endforeach()
