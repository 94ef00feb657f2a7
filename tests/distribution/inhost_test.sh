#!/usr/bin/env bash
# build_mextoolbox in Octave: from a copy of the sources (nothing built in
# it), the script compiles every plug-in with Octave's own mkoctfile into
# its default folder; a second, fresh octave-cli with only that folder on
# the path passes check_installed.m.
#
#   inhost_test.sh OCTAVE_CLI SOURCE_DIR WORK_DIR VERSION NAME...
set -eu
octave=$1 source=$2 work=$3 version=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
names=$(printf "'%s', " "$@")
rm -rf "$work"
mkdir -p "$work/sources"
# The sources a user has: every tracked folder, without any build folder.
(cd "$source" && tar cf - --exclude=./build --exclude=./.git .) | (cd "$work/sources" && tar xf -)
# With no argument it builds into build/mextoolbox-octave beside itself.
out=$work/sources/build/mextoolbox-octave
cd "$work"
export HOME=$work
"$octave" -f -q -H --no-gui --eval "cd('$work/sources'); build_mextoolbox" 2>&1
"$here/exports_only.sh" "$out"/*.mex
"$octave" -f -q -H --no-gui --eval \
  "addpath('$out'); addpath('$here'); check_installed('$out', '$version', {$names})" 2>&1
