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
      message(STATUS "Octave plug-ins: building against ${octave_include}")
    endif()
  endif()
  if(NOT TOOLBOX_OCTAVE_FOUND)
    message(STATUS "Octave plug-ins: skipped (mkoctfile not found; Debian packages: octave liboctave-dev)")
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
