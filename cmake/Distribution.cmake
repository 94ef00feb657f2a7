# What a user gets: every built host's plug-ins together with their help
# files, Contents.m, mextoolbox.m (so "help mextoolbox" lists the
# functions), mextoolbox_version, the self-test mextoolbox_test, the case
# files it runs, LICENSE and a README.txt. The same set is
#   - copied beside the Octave and MATLAB plug-ins in the build folder, so
#     build/<preset>/octave is itself a ready toolbox;
#   - installed by "cmake --install" into <prefix>/mextoolbox/<host>/;
#   - packed by the target octave_package (Octave's package layout, built
#     by "pkg install" with mkoctfile) and the target release (the Linux and
#     Windows archives, and the Octave package).

# The shipped plug-ins are those of toolbox/plugins.txt (cmake/MexPlugin.cmake).
set(TOOLBOX_SHIPPED ${TOOLBOX_LISTED_PLUGINS})
set(TOOLBOX_GENERATED_DIR ${CMAKE_BINARY_DIR}/toolbox)
file(GLOB TOOLBOX_CASE_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/cases/*.cases)

# Contents.m and mextoolbox.m: one line per function, from the first line of
# its help text ("%NAME Summary.").
function(_toolbox_contents_line file name out)
  file(STRINGS ${file} first REGEX "^%" LIMIT_COUNT 1)
  string(REGEX REPLACE "^%[A-Za-z0-9_]+[ ]+" "" summary "${first}")
  string(LENGTH ${name} length)
  math(EXPR pad "19 - ${length}")
  string(REPEAT " " ${pad} spaces)
  set(${out} "%   ${name}${spaces}- ${summary}\n" PARENT_SCOPE)
endfunction()

set(TOOLBOX_HELP_FILES "")
set(TOOLBOX_CONTENTS_FUNCTIONS "")
foreach(name ${TOOLBOX_SHIPPED})
  set(help ${PROJECT_SOURCE_DIR}/${TOOLBOX_${name}_FOLDER}/${name}.m)
  if(NOT EXISTS ${help})
    message(FATAL_ERROR "plug-in ${name} is shipped without its help file ${help}")
  endif()
  list(APPEND TOOLBOX_HELP_FILES ${help})
  _toolbox_contents_line(${help} ${name} line)
  string(APPEND TOOLBOX_CONTENTS_FUNCTIONS "${line}")
endforeach()

configure_file(${PROJECT_SOURCE_DIR}/toolbox/mextoolbox_version.m.in
               ${TOOLBOX_GENERATED_DIR}/mextoolbox_version.m @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/toolbox/mextoolbox_test.m
               ${TOOLBOX_GENERATED_DIR}/mextoolbox_test.m COPYONLY)
configure_file(${PROJECT_SOURCE_DIR}/toolbox/README.txt.in
               ${TOOLBOX_GENERATED_DIR}/README.txt @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${TOOLBOX_GENERATED_DIR}/LICENSE COPYONLY)
set(TOOLBOX_CONTENTS_TOOLS "")
foreach(tool mextoolbox_test mextoolbox_version)
  _toolbox_contents_line(${TOOLBOX_GENERATED_DIR}/${tool}.m ${tool} line)
  string(APPEND TOOLBOX_CONTENTS_TOOLS "${line}")
endforeach()
string(STRIP "${TOOLBOX_CONTENTS_TOOLS}" TOOLBOX_CONTENTS_TOOLS)
configure_file(${PROJECT_SOURCE_DIR}/toolbox/Contents.m.in
               ${TOOLBOX_GENERATED_DIR}/Contents.m @ONLY)
file(READ ${TOOLBOX_GENERATED_DIR}/Contents.m TOOLBOX_CONTENTS_HELP)
string(STRIP "${TOOLBOX_CONTENTS_HELP}" TOOLBOX_CONTENTS_HELP)
configure_file(${PROJECT_SOURCE_DIR}/toolbox/mextoolbox.m.in
               ${TOOLBOX_GENERATED_DIR}/mextoolbox.m @ONLY)

set(TOOLBOX_FILES
  ${TOOLBOX_GENERATED_DIR}/Contents.m
  ${TOOLBOX_GENERATED_DIR}/mextoolbox.m
  ${TOOLBOX_GENERATED_DIR}/mextoolbox_version.m
  ${TOOLBOX_GENERATED_DIR}/mextoolbox_test.m
  ${TOOLBOX_GENERATED_DIR}/README.txt
  ${TOOLBOX_GENERATED_DIR}/LICENSE)

# The build folders of Octave and MATLAB hold the toolbox files too.
function(_toolbox_copy_beside folder)
  foreach(file ${TOOLBOX_FILES})
    get_filename_component(base ${file} NAME)
    configure_file(${file} ${folder}/${base} COPYONLY)
  endforeach()
  foreach(file ${TOOLBOX_CASE_FILES})
    get_filename_component(base ${file} NAME)
    configure_file(${file} ${folder}/cases/${base} COPYONLY)
  endforeach()
endfunction()

# cmake --install: <prefix>/mextoolbox/<host>/, one install component per host.
function(_toolbox_install_files host)
  install(FILES ${TOOLBOX_HELP_FILES} ${TOOLBOX_FILES}
          DESTINATION mextoolbox/${host} COMPONENT ${host})
  install(FILES ${TOOLBOX_CASE_FILES} DESTINATION mextoolbox/${host}/cases COMPONENT ${host})
endfunction()

set(TOOLBOX_INSTALLED_HOSTS "")
# A host whose plug-ins CMake builds (octave, matlab): its build folder
# becomes a ready toolbox, and its plug-ins and files are installed.
macro(_toolbox_ship_built_host host folder)
  _toolbox_copy_beside(${folder})
  foreach(name ${TOOLBOX_SHIPPED})
    install(TARGETS ${name}_${host} LIBRARY DESTINATION mextoolbox/${host} COMPONENT ${host})
  endforeach()
  _toolbox_install_files(${host})
  list(APPEND TOOLBOX_INSTALLED_HOSTS ${host})
endmacro()
if(TOOLBOX_OCTAVE_FOUND)
  _toolbox_ship_built_host(octave ${TOOLBOX_OCTAVE_DIR})
endif()
if(TOOLBOX_MATLAB_FOUND)
  _toolbox_ship_built_host(matlab ${TOOLBOX_MATLAB_DIR})
endif()
if(TOOLBOX_WINDOWS_FOUND)
  list(TRANSFORM TOOLBOX_SHIPPED PREPEND ${TOOLBOX_WINDOWS_DIR}/ OUTPUT_VARIABLE windows_plugins)
  list(TRANSFORM windows_plugins APPEND .mexw64)
  install(FILES ${windows_plugins} DESTINATION mextoolbox/windows COMPONENT windows)
  _toolbox_install_files(windows)
  list(APPEND TOOLBOX_INSTALLED_HOSTS windows)
endif()

# The Octave package: build/<preset>/mextoolbox-VERSION.tar.gz in Octave's
# package layout. "pkg install" runs src/Makefile, which compiles every
# plug-in with mkoctfile --mex and the flags of our own build into inst/,
# beside its help file (Octave shows a MEX file's help from the .m file in
# the same folder).
set(TOOLBOX_PACKAGE_NAME ${PROJECT_NAME}-${PROJECT_VERSION})
set(TOOLBOX_PACKAGE ${CMAKE_BINARY_DIR}/${TOOLBOX_PACKAGE_NAME}.tar.gz)
set(package_dir ${TOOLBOX_GENERATED_DIR}/octave-package)
# common/ and platform/ (which common/largeoutput.h includes by its path),
# then every plug-in folder.
set(TOOLBOX_PACKAGE_FOLDERS common platform)
set(TOOLBOX_PACKAGE_INDEX_FUNCTIONS "")
set(TOOLBOX_PACKAGE_MAKE_TARGETS "")
set(TOOLBOX_PACKAGE_MAKE_RULES "")
foreach(name ${TOOLBOX_SHIPPED})
  set(folder ${TOOLBOX_${name}_FOLDER})
  list(APPEND TOOLBOX_PACKAGE_FOLDERS ${folder})
  string(APPEND TOOLBOX_PACKAGE_INDEX_FUNCTIONS " ${name}")
  string(APPEND TOOLBOX_PACKAGE_MAKE_TARGETS " ../inst/${name}.mex")
  list(TRANSFORM TOOLBOX_${name}_SOURCES PREPEND " ${folder}/" OUTPUT_VARIABLE sources)
  string(JOIN "" sources ${sources})
  string(APPEND TOOLBOX_PACKAGE_MAKE_RULES
    "../inst/${name}.mex: $(SOURCES)\n"
    "\t$(MKOCTFILE) --mex $(DEFINES) $(API${TOOLBOX_${name}_API}) -Icommon -I${folder} -o $@${sources} $(STUB) $(EXPORTS)\n\n")
endforeach()
list(REMOVE_DUPLICATES TOOLBOX_PACKAGE_FOLDERS)
string(TIMESTAMP TOOLBOX_BUILD_DATE "%Y-%m-%d" UTC)
configure_file(${PROJECT_SOURCE_DIR}/toolbox/octave-package/DESCRIPTION.in
               ${package_dir}/DESCRIPTION @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/toolbox/octave-package/INDEX.in ${package_dir}/INDEX @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/toolbox/octave-package/Makefile.in ${package_dir}/Makefile @ONLY)

add_custom_target(octave_package
  COMMAND ${CMAKE_COMMAND}
    -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
    -DPACKAGE_DIR=${package_dir}
    -DSTAGE_DIR=${TOOLBOX_GENERATED_DIR}/stage
    -DPACKAGE_NAME=${TOOLBOX_PACKAGE_NAME}
    -DOUTPUT=${TOOLBOX_PACKAGE}
    "-DFOLDERS=${TOOLBOX_PACKAGE_FOLDERS}"
    "-DINST_FILES=${TOOLBOX_HELP_FILES};${TOOLBOX_FILES}"
    "-DCASE_FILES=${TOOLBOX_CASE_FILES}"
    -P ${PROJECT_SOURCE_DIR}/cmake/OctavePackage.cmake
  BYPRODUCTS ${TOOLBOX_PACKAGE}
  COMMENT "Octave package ${TOOLBOX_PACKAGE}"
  VERBATIM)

# The release archives, from what "cmake --install" puts in place:
#   mextoolbox-VERSION-octaveN-linux-x86_64.tar.gz (the Octave plug-ins)
#   mextoolbox-VERSION-win64.zip (the Windows x64 plug-ins)
# and the Octave package beside them.
set(TOOLBOX_RELEASE_ARCHIVES "")
set(release_hosts "")
set(release_dependencies octave_package)
if(TOOLBOX_OCTAVE_FOUND)
  execute_process(COMMAND ${TOOLBOX_MKOCTFILE} --version
    OUTPUT_VARIABLE octave_version ERROR_VARIABLE octave_version)
  string(REGEX MATCH "version ([0-9]+)" octave_version "${octave_version}")
  set(TOOLBOX_LINUX_ARCHIVE
    ${TOOLBOX_PACKAGE_NAME}-octave${CMAKE_MATCH_1}-linux-${CMAKE_SYSTEM_PROCESSOR})
  list(APPEND release_hosts "octave=${TOOLBOX_LINUX_ARCHIVE}.tar.gz")
  foreach(name ${TOOLBOX_SHIPPED})
    list(APPEND release_dependencies ${name}_octave)
  endforeach()
endif()
if(TOOLBOX_WINDOWS_FOUND)
  set(TOOLBOX_WINDOWS_ARCHIVE ${TOOLBOX_PACKAGE_NAME}-win64)
  list(APPEND release_hosts "windows=${TOOLBOX_WINDOWS_ARCHIVE}.zip")
  list(APPEND release_dependencies windows_build)
endif()
add_custom_target(release
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${CMAKE_BINARY_DIR}
    -DSTAGE_DIR=${TOOLBOX_GENERATED_DIR}/release
    "-DHOSTS=${release_hosts}"
    -P ${PROJECT_SOURCE_DIR}/cmake/ReleaseArchives.cmake
  COMMENT "Release archives in ${CMAKE_BINARY_DIR}"
  VERBATIM)
add_dependencies(release ${release_dependencies})
