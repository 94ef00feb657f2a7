# Lays out the Octave package and packs it (cmake -P, from the target
# octave_package):
#   PACKAGE_NAME/DESCRIPTION, INDEX, Makefile-built src/, COPYING, NEWS
#   PACKAGE_NAME/inst/   help files, toolbox files, cases/
#   PACKAGE_NAME/src/    Makefile, common/ and each plug-in folder's sources
# The sources are globbed here, at build time, so a header added to a
# plug-in folder or to common/ is packed without editing any list.
foreach(var SOURCE_DIR PACKAGE_DIR STAGE_DIR PACKAGE_NAME OUTPUT FOLDERS INST_FILES CASE_FILES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "OctavePackage.cmake: ${var} is not set")
  endif()
endforeach()

set(root ${STAGE_DIR}/${PACKAGE_NAME})
file(REMOVE_RECURSE ${root})
file(MAKE_DIRECTORY ${root}/inst/cases ${root}/src)

file(COPY ${PACKAGE_DIR}/DESCRIPTION ${PACKAGE_DIR}/INDEX DESTINATION ${root})
file(COPY_FILE ${SOURCE_DIR}/LICENSE ${root}/COPYING)
file(COPY_FILE ${SOURCE_DIR}/CHANGELOG.md ${root}/NEWS)
file(COPY ${INST_FILES} DESTINATION ${root}/inst)
file(COPY ${CASE_FILES} DESTINATION ${root}/inst/cases)
file(COPY ${PACKAGE_DIR}/Makefile DESTINATION ${root}/src)
foreach(folder ${FOLDERS})
  file(GLOB files ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp
       ${SOURCE_DIR}/${folder}/*.map)
  file(COPY ${files} DESTINATION ${root}/src/${folder})
endforeach()

file(REMOVE ${OUTPUT})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${OUTPUT} ${PACKAGE_NAME}
                WORKING_DIRECTORY ${STAGE_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "could not pack ${OUTPUT}")
endif()
message(STATUS "Octave package: ${OUTPUT}")
