#!/usr/bin/env bash
# The Octave package: "pkg install" into a throw-away prefix (package
# lists and HOME inside WORK_DIR, so nothing touches the user's files or
# Octave's global list), "pkg load" in a fresh octave-cli, check_installed.m
# (help, version, every case file through the installed functions), then
# "pkg uninstall", which must leave nothing behind.
#
#   pkg_test.sh OCTAVE_CLI PACKAGE.tar.gz WORK_DIR VERSION NAME...
set -eu
octave=$1 package=$2 work=$3 version=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
names=$(printf "'%s', " "$@")
rm -rf "$work"
mkdir -p "$work/home"
cd "$work"
export HOME=$work/home
lists="pkg('prefix', '$work/share', '$work/lib'); pkg('local_list', '$work/local_packages'); pkg('global_list', '$work/global_packages');"
run() {
  "$octave" -f -q -H --no-gui --eval "$lists $1" 2>&1
}

echo "== pkg install $package"
run "pkg('install', '-local', '$package')"
echo "== the installed plug-ins' exports"
"$here/exports_only.sh" $(find "$work/share" "$work/lib" -name '*.mex')
echo "== pkg load mextoolbox, then the checks"
run "pkg('load', 'mextoolbox'); addpath('$here'); check_installed('$work', '$version', {$names})"
echo "== pkg uninstall mextoolbox"
run "pkg('uninstall', '-local', 'mextoolbox')"
run "if (! isempty (pkg ('list'))) error ('pkg list still shows mextoolbox after pkg uninstall'); end"
left=$(find "$work/share" "$work/lib" -type f 2>/dev/null | head -5)
if [ -n "$left" ]; then
  echo "pkg uninstall left files behind:"
  echo "$left"
  exit 1
fi
echo "pkg install, load, self-test and uninstall: passed"
