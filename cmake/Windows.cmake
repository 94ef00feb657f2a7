# The Windows x64 build: the bundled host (libmx.dll, libmex.dll,
# mexcall.exe) and every shipped plug-in, cross-built with mingw-w64
# from the same sources as a nested build (build/<preset>/windows-build),
# landing in build/<preset>/windows/. The tests run them under Wine.

option(TOOLBOX_WITH_WINDOWS "Cross-build the Windows plug-ins when mingw-w64 is found" ON)
set(TOOLBOX_WINDOWS_FOUND OFF)
set(TOOLBOX_WINDOWS_DIR ${CMAKE_BINARY_DIR}/windows)
if(TOOLBOX_WITH_WINDOWS)
  find_program(TOOLBOX_MINGW_CXX x86_64-w64-mingw32-g++-win32)
  find_program(TOOLBOX_MINGW_OBJDUMP x86_64-w64-mingw32-objdump)
  find_program(TOOLBOX_WINE wine)
  if(TOOLBOX_MINGW_CXX AND TOOLBOX_MINGW_OBJDUMP)
    set(TOOLBOX_WINDOWS_FOUND ON)
    include(ExternalProject)
    ExternalProject_Add(windows_build
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${CMAKE_BINARY_DIR}/windows-build
      CMAKE_GENERATOR ${CMAKE_GENERATOR}
      CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64.cmake
        -DCMAKE_BUILD_TYPE=Release
        -DTOOLBOX_BUNDLED_DIR=${TOOLBOX_WINDOWS_DIR}
        -DTOOLBOX_TESTS=OFF
        -DTOOLBOX_WERROR=${TOOLBOX_WERROR}
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON)
    message(STATUS "Windows plug-ins: cross-building with ${TOOLBOX_MINGW_CXX}")
  else()
    message(STATUS "Windows plug-ins: skipped (mingw-w64 not found; Debian package: g++-mingw-w64-x86-64)")
  endif()
endif()
