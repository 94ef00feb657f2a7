#!/usr/bin/env bash
# cmake --install into an empty prefix, then the installed Octave folder,
# alone on the path of a fresh octave-cli, passes check_installed.m.
#
#   install_test.sh OCTAVE_CLI BUILD_DIR WORK_DIR VERSION NAME...
set -eu
octave=$1 build=$2 work=$3 version=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
names=$(printf "'%s', " "$@")
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" > "$work/install.log"
folder=$work/prefix/mextoolbox/octave
cd "$work"
HOME=$work "$octave" -f -q -H --no-gui --eval \
  "addpath('$folder'); addpath('$here'); check_installed('$folder', '$version', {$names})" 2>&1
