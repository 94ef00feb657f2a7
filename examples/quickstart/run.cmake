# The quick start: a few calls of every plug-in with their results, then the
# worked examples of tests/cases/ with their summary. Runs in Octave when the
# Octave build exists, otherwise through the bundled host.
#
#   cmake -DOCTAVE_CLI=... -DOCTAVE_DIR=... -DSHOW_CALLS=... -DMEXCALL=...
#         -DSOURCE_DIR=... -P run.cmake
#
# OCTAVE_CLI and OCTAVE_DIR are empty when Octave was not found.

set(calls ${SOURCE_DIR}/examples/quickstart/calls.txt)
file(GLOB case_files ${SOURCE_DIR}/tests/cases/*.cases)

if(OCTAVE_CLI AND OCTAVE_DIR)
  execute_process(COMMAND ${OCTAVE_CLI} --version OUTPUT_VARIABLE version)
  string(REGEX MATCH "version [0-9.]+" version "${version}")
  message("Quick start in GNU Octave (${version}, octave-cli), plug-ins from ${OCTAVE_DIR}")
  set(show ${OCTAVE_CLI} -f -q -H --no-gui ${SOURCE_DIR}/examples/quickstart/show_calls.m
           ${OCTAVE_DIR} ${calls})
  set(summary ${OCTAVE_CLI} -f -q -H --no-gui --eval
              "addpath('${OCTAVE_DIR}'), mextoolbox_test('${SOURCE_DIR}/tests/cases')")
else()
  get_filename_component(bundled_dir ${MEXCALL} DIRECTORY)
  message("Quick start through the bundled host (no Octave build here: octave-cli and "
          "mkoctfile come with the Debian packages octave octave-dev), plug-ins from "
          "${bundled_dir}")
  set(show ${SHOW_CALLS} ${bundled_dir} ${calls})
  set(summary ${MEXCALL} --cases ${case_files})
endif()

execute_process(COMMAND ${show} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Quick start: a call failed (status ${status})")
endif()
list(LENGTH case_files count)
message("\nThe worked examples of tests/cases/ (${count} files), each result compared exactly:")
execute_process(COMMAND ${summary} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Quick start: worked examples failed (status ${status})")
endif()
