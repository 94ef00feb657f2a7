# toolbox_add_plugin: builds one plug-in for every host found.
#
#   toolbox_add_plugin(NAME SOURCES src... API 32|64 [HELP NAME.m]
#                      [INCLUDES dir...] [LIBRARIES lib...] [OUTPUT_DIR dir]
#                      [BUNDLED_ONLY])
#
# Every build compiles the gateway sources together with the version stub
# common/cpp_mexapi_version.cpp and links with the version script that
# exports exactly mexFunction and mexfilerequiredapiversion under node MEX.
#   bundled: build/<preset>/bundled/NAME.mexa64, against host/ (always)
#   octave:  build/<preset>/octave/NAME.mex, against Octave's headers
#   matlab:  build/<preset>/matlab/NAME.mexa64, against a MATLAB installation
# API 32 plug-ins bind the _700 (32-bit size) family, API 64 the _730 one,
# chosen by the defines MATLAB's own mex gives (_toolbox_mex_definitions).
# Octave 10 and later also need the SOVERSION marker, exported beside the
# two (common/octave_mex_soversion.cpp, common/mexplugin-octave.map).
# The help file is copied beside the Octave and MATLAB plug-ins, where
# "help NAME" finds it.
#
# In the Windows cross-build every plug-in not marked BUNDLED_ONLY is built,
# as NAME.mexw64 exporting mexFunction alone (a .def file), linked
# statically with the compiler's runtime so that it imports nothing but
# KERNEL32, the C runtime, libmx.dll and libmex.dll.

# The version words, read from the one header that defines them for the
# bundled host as well.
file(STRINGS ${PROJECT_SOURCE_DIR}/host/include/mexapiwords.h _toolbox_words
     REGEX "^#define MEXAPI_[A-Z0-9]+_WORD ")
foreach(_line ${_toolbox_words})
  string(REGEX MATCH "^#define MEXAPI_([A-Z0-9]+)_WORD (0x[0-9A-Fa-f]+)" _match "${_line}")
  set(TOOLBOX_${CMAKE_MATCH_1}_WORD ${CMAKE_MATCH_2})
endforeach()
if(NOT TOOLBOX_RELEASE_WORD OR NOT TOOLBOX_API32_WORD OR NOT TOOLBOX_API64_WORD)
  message(FATAL_ERROR "host/include/mexapiwords.h must define the three MEXAPI_*_WORD values")
endif()

set(TOOLBOX_PLUGINS "" CACHE INTERNAL "plug-ins built for the hosts, as NAME=APIWORD")

# The export list and "-z defs" need a linker that understands them (GNU
# ld, gold, lld); elsewhere (macOS, untested) the plug-ins rely on hidden
# visibility alone.
if(NOT WIN32)
  include(CheckLinkerFlag)
  check_linker_flag(CXX "-Wl,--version-script=${PROJECT_SOURCE_DIR}/common/mexplugin.map"
                    TOOLBOX_LINKER_VERSION_SCRIPT)
  check_linker_flag(CXX "-Wl,-z,defs" TOOLBOX_LINKER_Z_DEFS)
endif()

# The defines that choose a plug-in's interface in MATLAB-style headers
# (ours and MATLAB's), as MATLAB's mex gives them: MATLAB_MEX_FILE, and
# MX_COMPAT_32 for 32-bit sizes (-compatibleArrayDims) or MX_COMPAT_64 with
# MATLAB_DEFAULT_RELEASE=R2017b for 64-bit sizes (-largeArrayDims). Without
# them MATLAB's headers since R2018a select the interleaved-complex
# interface; the bundled host's headers refuse to compile then.
function(_toolbox_mex_definitions target api)
  target_compile_definitions(${target} PRIVATE MATLAB_MEX_FILE)
  if(api STREQUAL "32")
    target_compile_definitions(${target} PRIVATE MX_COMPAT_32)
  else()
    target_compile_definitions(${target} PRIVATE MX_COMPAT_64 MATLAB_DEFAULT_RELEASE=R2017b)
  endif()
endfunction()

function(_toolbox_plugin_common target name api)
  set(map ${PROJECT_SOURCE_DIR}/common/mexplugin.map)
  if(target MATCHES "_octave$" AND TOOLBOX_OCTAVE_MEX_SOVERSION)
    set(map ${PROJECT_SOURCE_DIR}/common/mexplugin-octave.map)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/common/octave_mex_soversion.cpp)
    target_compile_definitions(${target} PRIVATE
      OCTAVE_MEX_SOVERSION=${TOOLBOX_OCTAVE_MEX_SOVERSION})
  endif()
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name}
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${map})
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/common/cpp_mexapi_version.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/common)
  if(api STREQUAL "32")
    set(word ${TOOLBOX_API32_WORD})
  elseif(api STREQUAL "64")
    set(word ${TOOLBOX_API64_WORD})
  else()
    message(FATAL_ERROR "toolbox_add_plugin(${name}): API must be 32 or 64")
  endif()
  target_compile_definitions(${target} PRIVATE
    MEX_RELEASE_WORD=${TOOLBOX_RELEASE_WORD} MEX_TARGET_API_WORD=${word})
  if(TOOLBOX_LINKER_VERSION_SCRIPT)
    target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  endif()
  # A missing host symbol fails at link time, not at load time. (Clang's
  # sanitizer runtime lives in the executable, so sanitized builds with clang
  # leave those symbols open.)
  if(TOOLBOX_LINKER_Z_DEFS AND NOT (TOOLBOX_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
    target_link_options(${target} PRIVATE -Wl,-z,defs)
  endif()
endfunction()

function(_toolbox_add_windows_plugin name)
  add_library(${name}_windows MODULE ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/common/mexplugin.def)
  set_target_properties(${name}_windows PROPERTIES
    OUTPUT_NAME ${name} PREFIX "" SUFFIX .mexw64
    LIBRARY_OUTPUT_DIRECTORY ${TOOLBOX_BUNDLED_DIR})
  _toolbox_mex_definitions(${name}_windows ${ARG_API})
  # mingw's own C99 printf family, linked statically: msvcrt's lacks %zu,
  # which the messages use on every host.
  target_compile_definitions(${name}_windows PRIVATE __USE_MINGW_ANSI_STDIO=1)
  target_include_directories(${name}_windows PRIVATE ${PROJECT_SOURCE_DIR}/common ${ARG_INCLUDES})
  target_link_libraries(${name}_windows PRIVATE mex mx ${ARG_LIBRARIES})
  target_link_options(${name}_windows PRIVATE
    -static-libgcc -static-libstdc++ -Wl,--no-undefined)
endfunction()

function(toolbox_add_plugin name)
  cmake_parse_arguments(ARG "BUNDLED_ONLY" "API;OUTPUT_DIR;HELP" "SOURCES;INCLUDES;LIBRARIES"
                        ${ARGN})
  if(WIN32)
    if(NOT ARG_BUNDLED_ONLY)
      _toolbox_add_windows_plugin(${name})
    endif()
    return()
  endif()
  if(NOT ARG_OUTPUT_DIR)
    set(ARG_OUTPUT_DIR ${TOOLBOX_BUNDLED_DIR})
  endif()

  add_library(${name}_bundled MODULE ${ARG_SOURCES})
  _toolbox_plugin_common(${name}_bundled ${name} ${ARG_API})
  set_target_properties(${name}_bundled PROPERTIES
    SUFFIX .mexa64
    LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR}
    BUILD_RPATH "\$ORIGIN;${TOOLBOX_BUNDLED_DIR}")
  _toolbox_mex_definitions(${name}_bundled ${ARG_API})
  target_compile_definitions(${name}_bundled PRIVATE TOOLBOX_HOST_BUNDLED)
  target_include_directories(${name}_bundled PRIVATE ${ARG_INCLUDES})
  target_link_libraries(${name}_bundled PRIVATE mx mex ${ARG_LIBRARIES})
  if(ARG_BUNDLED_ONLY)
    return()
  endif()
  if(ARG_API STREQUAL "32")
    set(word ${TOOLBOX_API32_WORD})
  else()
    set(word ${TOOLBOX_API64_WORD})
  endif()
  set(TOOLBOX_PLUGINS ${TOOLBOX_PLUGINS} ${name}=${word} CACHE INTERNAL "")
  # What the install rules and the Octave package need to know about a
  # shipped plug-in (cmake/Distribution.cmake).
  set_property(GLOBAL APPEND PROPERTY TOOLBOX_SHIPPED_PLUGINS ${name})
  list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ REGEX "^[^/]"
       OUTPUT_VARIABLE sources)
  set_property(GLOBAL PROPERTY TOOLBOX_${name}_SOURCES ${sources})
  set_property(GLOBAL PROPERTY TOOLBOX_${name}_API ${ARG_API})
  set_property(GLOBAL PROPERTY TOOLBOX_${name}_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARG_HELP)
    set_property(GLOBAL PROPERTY TOOLBOX_${name}_HELP ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_HELP})
  endif()

  if(TOOLBOX_OCTAVE_FOUND)
    add_library(${name}_octave MODULE ${ARG_SOURCES})
    _toolbox_plugin_common(${name}_octave ${name} ${ARG_API})
    set_target_properties(${name}_octave PROPERTIES
      SUFFIX .mex
      LIBRARY_OUTPUT_DIRECTORY ${TOOLBOX_OCTAVE_DIR})
    target_compile_definitions(${name}_octave PRIVATE TOOLBOX_HOST_OCTAVE)
    target_include_directories(${name}_octave SYSTEM PRIVATE ${TOOLBOX_OCTAVE_INCLUDE_DIRS})
    target_include_directories(${name}_octave PRIVATE ${ARG_INCLUDES})
    target_link_directories(${name}_octave PRIVATE ${TOOLBOX_OCTAVE_LIBRARY_DIR})
    target_link_libraries(${name}_octave PRIVATE ${TOOLBOX_OCTAVE_LIBRARIES} ${ARG_LIBRARIES})
    if(ARG_HELP)
      configure_file(${ARG_HELP} ${TOOLBOX_OCTAVE_DIR}/${name}.m COPYONLY)
    endif()
  endif()

  if(TOOLBOX_MATLAB_FOUND)
    add_library(${name}_matlab MODULE ${ARG_SOURCES})
    _toolbox_plugin_common(${name}_matlab ${name} ${ARG_API})
    set_target_properties(${name}_matlab PROPERTIES
      SUFFIX .mexa64
      LIBRARY_OUTPUT_DIRECTORY ${TOOLBOX_MATLAB_DIR})
    _toolbox_mex_definitions(${name}_matlab ${ARG_API})
    target_compile_definitions(${name}_matlab PRIVATE TOOLBOX_HOST_MATLAB)
    target_include_directories(${name}_matlab SYSTEM PRIVATE ${Matlab_INCLUDE_DIRS})
    target_include_directories(${name}_matlab PRIVATE ${ARG_INCLUDES})
    target_link_libraries(${name}_matlab PRIVATE
      ${Matlab_MX_LIBRARY} ${Matlab_MEX_LIBRARY} ${ARG_LIBRARIES})
    target_link_options(${name}_matlab PRIVATE -static-libstdc++)
    if(ARG_HELP)
      configure_file(${ARG_HELP} ${TOOLBOX_MATLAB_DIR}/${name}.m COPYONLY)
    endif()
  endif()
endfunction()
