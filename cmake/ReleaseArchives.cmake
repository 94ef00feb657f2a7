# Makes the release archives from what "cmake --install" puts in place
# (cmake -P, from the target release). HOSTS lists COMPONENT=ARCHIVE pairs,
# for example octave=mextoolbox-1.0.0-octave7-linux-x86_64.tar.gz: the
# component's folder mextoolbox/COMPONENT becomes the archive's one
# top-level folder, named as the archive. A .zip name writes a zip file.
foreach(var BUILD_DIR STAGE_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ReleaseArchives.cmake: ${var} is not set")
  endif()
endforeach()

foreach(entry ${HOSTS})
  string(REGEX REPLACE "=.*" "" component ${entry})
  string(REGEX REPLACE "^[^=]*=" "" archive ${entry})
  string(REGEX REPLACE "(\\.tar\\.gz|\\.zip)$" "" folder ${archive})
  set(prefix ${STAGE_DIR}/${component})
  file(REMOVE_RECURSE ${prefix} ${STAGE_DIR}/${folder})
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                          --component ${component}
                  RESULT_VARIABLE status OUTPUT_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install of the ${component} component failed")
  endif()
  file(RENAME ${prefix}/mextoolbox/${component} ${STAGE_DIR}/${folder})
  file(REMOVE ${BUILD_DIR}/${archive})
  if(archive MATCHES "\\.zip$")
    set(format --format=zip)
    set(mode cf)
  else()
    set(format "")
    set(mode czf)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar ${mode} ${BUILD_DIR}/${archive} ${format} ${folder}
                  WORKING_DIRECTORY ${STAGE_DIR} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not pack ${archive}")
  endif()
  message(STATUS "Release archive: ${BUILD_DIR}/${archive}")
endforeach()
