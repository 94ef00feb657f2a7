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
#
# The shipped plug-ins are the ones toolbox/plugins.txt lists; a plug-in
# folder's CMakeLists.txt adds them with toolbox_add_listed_plugins(). A
# shipped plug-in added by toolbox_add_plugin itself must match its line
# in the list, and toolbox_check_listed_plugins() (after every folder)
# fails the configuration when a listed one was not added. Only test
# plug-ins (BUNDLED_ONLY) stay out of the list.

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

# The shipped plug-ins, read from toolbox/plugins.txt, in its order:
#   TOOLBOX_LISTED_PLUGINS   every NAME
#   TOOLBOX_LISTED_FOLDERS   every FOLDER, once, in order of first mention
#   TOOLBOX_<NAME>_FOLDER    the folder below the source root
#   TOOLBOX_<NAME>_API       32 or 64
#   TOOLBOX_<NAME>_SOURCES   the gateway sources, relative to the folder
set(TOOLBOX_PLUGIN_LIST ${PROJECT_SOURCE_DIR}/toolbox/plugins.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TOOLBOX_PLUGIN_LIST})
file(STRINGS ${TOOLBOX_PLUGIN_LIST} _toolbox_lines REGEX "^[ \t]*[^# \t]")
set(TOOLBOX_LISTED_PLUGINS "")
set(TOOLBOX_LISTED_FOLDERS "")
foreach(_line ${_toolbox_lines})
  string(STRIP "${_line}" _line)
  string(REGEX REPLACE "[ \t]+" ";" _fields "${_line}")
  list(LENGTH _fields _count)
  list(POP_FRONT _fields _name _folder _api)
  if(_count LESS 4 OR NOT _api MATCHES "^(32|64)$")
    message(FATAL_ERROR "toolbox/plugins.txt: cannot read the line '${_line}'; "
                        "expected NAME FOLDER 32|64 SOURCE...")
  endif()
  set(TOOLBOX_${_name}_FOLDER ${_folder})
  set(TOOLBOX_${_name}_API ${_api})
  set(TOOLBOX_${_name}_SOURCES ${_fields})
  list(APPEND TOOLBOX_LISTED_PLUGINS ${_name})
  list(APPEND TOOLBOX_LISTED_FOLDERS ${_folder})
endforeach()
list(REMOVE_DUPLICATES TOOLBOX_LISTED_FOLDERS)

set(TOOLBOX_PLUGINS "" CACHE INTERNAL "plug-ins built for the hosts, as NAME=APIWORD")
set_property(GLOBAL PROPERTY TOOLBOX_ADDED_PLUGINS "")

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

# A shipped plug-in is added as toolbox/plugins.txt lists it: from its own
# folder, with the listed sources and size family and the help file NAME.m.
function(_toolbox_check_listed name)
  if(NOT name IN_LIST TOOLBOX_LISTED_PLUGINS)
    message(FATAL_ERROR "toolbox_add_plugin(${name}): not listed in toolbox/plugins.txt; "
                        "list it there (or mark a test plug-in BUNDLED_ONLY)")
  endif()
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(listed "${TOOLBOX_${name}_FOLDER} ${TOOLBOX_${name}_API} ${TOOLBOX_${name}_SOURCES} ${name}.m")
  set(given "${folder} ${ARG_API} ${ARG_SOURCES} ${ARG_HELP}")
  if(NOT given STREQUAL listed)
    message(FATAL_ERROR "toolbox_add_plugin(${name}): added as (folder, API, sources, help) "
                        "'${given}', but toolbox/plugins.txt lists '${listed}'")
  endif()
endfunction()

# One plug-in target NAME_HOST from the gateway sources and the common
# parts: its file suffix and folder, TOOLBOX_HOST_<HOST> defined, the
# plug-in's own include folders; linked with the host's libraries (the
# further arguments), then the plug-in's own.
function(_toolbox_add_host_target name host suffix folder)
  set(target ${name}_${host})
  add_library(${target} MODULE ${ARG_SOURCES})
  _toolbox_plugin_common(${target} ${name} ${ARG_API})
  set_target_properties(${target} PROPERTIES SUFFIX ${suffix} LIBRARY_OUTPUT_DIRECTORY ${folder})
  string(TOUPPER ${host} definition)
  target_compile_definitions(${target} PRIVATE TOOLBOX_HOST_${definition})
  target_include_directories(${target} PRIVATE ${ARG_INCLUDES})
  target_link_libraries(${target} PRIVATE ${ARGN} ${ARG_LIBRARIES})
  if(ARG_HELP AND NOT host STREQUAL "bundled")
    configure_file(${ARG_HELP} ${folder}/${name}.m COPYONLY)
  endif()
endfunction()

function(toolbox_add_plugin name)
  cmake_parse_arguments(ARG "BUNDLED_ONLY" "API;OUTPUT_DIR;HELP" "SOURCES;INCLUDES;LIBRARIES"
                        ${ARGN})
  if(NOT ARG_BUNDLED_ONLY)
    _toolbox_check_listed(${name})
    set_property(GLOBAL APPEND PROPERTY TOOLBOX_ADDED_PLUGINS ${name})
  endif()
  if(WIN32)
    if(NOT ARG_BUNDLED_ONLY)
      _toolbox_add_windows_plugin(${name})
    endif()
    return()
  endif()
  if(NOT ARG_OUTPUT_DIR)
    set(ARG_OUTPUT_DIR ${TOOLBOX_BUNDLED_DIR})
  endif()

  _toolbox_add_host_target(${name} bundled .mexa64 ${ARG_OUTPUT_DIR} mx mex)
  set_target_properties(${name}_bundled PROPERTIES BUILD_RPATH "\$ORIGIN;${TOOLBOX_BUNDLED_DIR}")
  _toolbox_mex_definitions(${name}_bundled ${ARG_API})
  if(ARG_BUNDLED_ONLY)
    return()
  endif()
  if(ARG_API STREQUAL "32")
    set(word ${TOOLBOX_API32_WORD})
  else()
    set(word ${TOOLBOX_API64_WORD})
  endif()
  set(TOOLBOX_PLUGINS ${TOOLBOX_PLUGINS} ${name}=${word} CACHE INTERNAL "")

  if(TOOLBOX_OCTAVE_FOUND)
    _toolbox_add_host_target(${name} octave .mex ${TOOLBOX_OCTAVE_DIR} ${TOOLBOX_OCTAVE_LIBRARIES})
    target_include_directories(${name}_octave SYSTEM PRIVATE ${TOOLBOX_OCTAVE_INCLUDE_DIRS})
    target_link_directories(${name}_octave PRIVATE ${TOOLBOX_OCTAVE_LIBRARY_DIR})
  endif()

  if(TOOLBOX_MATLAB_FOUND)
    _toolbox_add_host_target(${name} matlab .mexa64 ${TOOLBOX_MATLAB_DIR}
                             ${Matlab_MX_LIBRARY} ${Matlab_MEX_LIBRARY})
    _toolbox_mex_definitions(${name}_matlab ${ARG_API})
    target_include_directories(${name}_matlab SYSTEM PRIVATE ${Matlab_INCLUDE_DIRS})
    target_link_options(${name}_matlab PRIVATE -static-libstdc++)
  endif()
endfunction()

# Adds every plug-in that toolbox/plugins.txt places in the calling folder.
function(toolbox_add_listed_plugins)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(name ${TOOLBOX_LISTED_PLUGINS})
    if(TOOLBOX_${name}_FOLDER STREQUAL folder)
      toolbox_add_plugin(${name} SOURCES ${TOOLBOX_${name}_SOURCES} API ${TOOLBOX_${name}_API}
                         HELP ${name}.m)
    endif()
  endforeach()
endfunction()

# After every plug-in folder: each listed plug-in has been added.
function(toolbox_check_listed_plugins)
  get_property(added GLOBAL PROPERTY TOOLBOX_ADDED_PLUGINS)
  foreach(name ${TOOLBOX_LISTED_PLUGINS})
    if(NOT name IN_LIST added)
      message(FATAL_ERROR "toolbox/plugins.txt lists ${name} in ${TOOLBOX_${name}_FOLDER}/, "
                          "whose CMakeLists.txt does not add it (toolbox_add_listed_plugins)")
    endif()
  endforeach()
endfunction()
