#!/usr/bin/env bash
# The Linux release archive, unpacked into a fresh folder: its one top-level
# folder, alone on the path of a fresh octave-cli, passes check_installed.m.
#
#   archive_test.sh OCTAVE_CLI ARCHIVE.tar.gz WORK_DIR VERSION NAME...
set -eu
octave=$1 archive=$2 work=$3 version=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
names=$(printf "'%s', " "$@")
rm -rf "$work"
mkdir -p "$work"
cd "$work"
cmake -E tar xzf "$archive"
folder=$work/$(basename "$archive" .tar.gz)
for file in LICENSE README.txt Contents.m; do
  [ -f "$folder/$file" ] || { echo "$archive: $file is missing"; exit 1; }
done
HOME=$work "$octave" -f -q -H --no-gui --eval \
  "addpath('$folder'); addpath('$here'); check_installed('$folder', '$version', {$names})" 2>&1
