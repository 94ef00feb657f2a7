# Host discovery: GNU Octave through mkoctfile, MATLAB through FindMatlab.
# Each host found gets its own output folder under the build folder.

if(WIN32)
  # The cross-build for Windows: the bundled host as DLLs and the Windows
  # plug-ins, side by side in one folder.
  set(TOOLBOX_BUNDLED_DIR ${CMAKE_BINARY_DIR}/windows CACHE PATH "Windows output folder")
  set(TOOLBOX_WITH_OCTAVE OFF)
  set(TOOLBOX_WITH_MATLAB OFF)
else()
  set(TOOLBOX_BUNDLED_DIR ${CMAKE_BINARY_DIR}/bundled)
endif()
set(TOOLBOX_OCTAVE_DIR ${CMAKE_BINARY_DIR}/octave)
set(TOOLBOX_MATLAB_DIR ${CMAKE_BINARY_DIR}/matlab)

# Since Octave 10 the MX/MEX functions live in a library of their own
# (mkoctfile -p LIBOCTMEX names it, -loctmex), and Octave loads a MEX file
# only if it holds the marker "const int __octave_mex_soversion__ = N", N
# being that library's SOVERSION, as mkoctfile --mex compiles it in. Sets
# TOOLBOX_OCTAVE_MEX_SOVERSION (empty before Octave 10) and adds the library
# to TOOLBOX_OCTAVE_LIBRARIES.
set(TOOLBOX_OCTAVE_MEX_SOVERSION "")
macro(_toolbox_octave_mex_library)
  execute_process(COMMAND ${TOOLBOX_MKOCTFILE} -p LIBOCTMEX
    OUTPUT_VARIABLE octave_mex_flag OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
    RESULT_VARIABLE rc3)
  if(rc3 EQUAL 0 AND octave_mex_flag MATCHES "^-l(.+)$")
    set(octave_mex_name ${CMAKE_MATCH_1})
    list(APPEND TOOLBOX_OCTAVE_LIBRARIES ${octave_mex_name})
    # The SOVERSION is the number after ".so." in the library's real file
    # name (liboctmex.so -> liboctmex.so.1 -> liboctmex.so.1.0.1).
    get_filename_component(octave_mex_file
      ${octave_libdir}/lib${octave_mex_name}${CMAKE_SHARED_LIBRARY_SUFFIX} REALPATH)
    if(octave_mex_file MATCHES "\\.so\\.([0-9]+)")
      set(TOOLBOX_OCTAVE_MEX_SOVERSION ${CMAKE_MATCH_1})
    else()
      message(FATAL_ERROR "Octave names ${octave_mex_flag} as its MEX library, but "
                          "${octave_libdir}/lib${octave_mex_name}.so has no SOVERSION "
                          "(found ${octave_mex_file})")
    endif()
    message(STATUS "Octave plug-ins: MX/MEX from ${octave_mex_file}, SOVERSION marker "
                   "${TOOLBOX_OCTAVE_MEX_SOVERSION}")
  endif()
endmacro()

set(TOOLBOX_OCTAVE_FOUND OFF)
if(TOOLBOX_WITH_OCTAVE)
  find_program(TOOLBOX_MKOCTFILE mkoctfile)
  find_program(TOOLBOX_OCTAVE_CLI octave-cli)
  if(TOOLBOX_MKOCTFILE)
    execute_process(COMMAND ${TOOLBOX_MKOCTFILE} -p OCTINCLUDEDIR
      OUTPUT_VARIABLE octave_include OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc1)
    execute_process(COMMAND ${TOOLBOX_MKOCTFILE} -p OCTLIBDIR
      OUTPUT_VARIABLE octave_libdir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc2)
    if(rc1 EQUAL 0 AND rc2 EQUAL 0 AND EXISTS ${octave_include}/mex.h)
      set(TOOLBOX_OCTAVE_FOUND ON)
      get_filename_component(octave_parent ${octave_include} DIRECTORY)
      set(TOOLBOX_OCTAVE_INCLUDE_DIRS ${octave_include} ${octave_parent})
      set(TOOLBOX_OCTAVE_LIBRARY_DIR ${octave_libdir})
      set(TOOLBOX_OCTAVE_LIBRARIES octinterp octave)
      _toolbox_octave_mex_library()
      message(STATUS "Octave plug-ins: building against ${octave_include}")
    endif()
  endif()
  if(NOT TOOLBOX_OCTAVE_FOUND)
    message(STATUS "Octave plug-ins: skipped (mkoctfile not found; Debian packages: octave octave-dev)")
  endif()
endif()

set(TOOLBOX_MATLAB_FOUND OFF)
if(TOOLBOX_WITH_MATLAB)
  find_package(Matlab QUIET COMPONENTS MX_LIBRARY)
  if(Matlab_FOUND AND Matlab_MX_LIBRARY AND Matlab_MEX_LIBRARY)
    set(TOOLBOX_MATLAB_FOUND ON)
    message(STATUS "MATLAB plug-ins: building against ${Matlab_ROOT_DIR} (untested here)")
  else()
    message(STATUS "MATLAB plug-ins: skipped (no MATLAB installation found)")
  endif()
endif()
