#!/usr/bin/env bash
# Each Linux plug-in given exports exactly mexFunction and
# mexfilerequiredapiversion (the version script's node name MEX aside), and,
# built by an Octave that has one (10 and later), the SOVERSION marker
# __octave_mex_soversion__ that Octave looks for before loading a MEX file:
# the export list reached the build.
#
#   exports_only.sh PLUGIN...
set -u
[ $# -gt 0 ] || { echo "exports_only: no plug-ins given"; exit 1; }
status=0
for plugin in "$@"; do
  names=$(nm -D --defined-only "$plugin" | awk '{ print $NF }' | sed 's/@.*//' | grep -vx MEX |
          sort -u | tr '\n' ' ')
  names=${names/__octave_mex_soversion__ /}
  if [ "$names" != "mexFunction mexfilerequiredapiversion " ]; then
    echo "$plugin exports: $names(expected mexFunction mexfilerequiredapiversion)"
    status=1
  fi
done
[ $status -eq 0 ] && echo "$# plug-ins export mexFunction and mexfilerequiredapiversion only"
exit $status
