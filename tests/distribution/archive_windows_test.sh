#!/usr/bin/env bash
# The Windows release archive, unpacked into a fresh folder: the nine
# plug-ins' export and import tables (check_exports.sh, check_imports.sh),
# the files beside them, and the shipped case files through the unpacked
# plug-ins with our host's mexcall.exe under Wine (there is no MATLAB for
# Windows here).
#
#   archive_windows_test.sh ARCHIVE.zip WORK_DIR MEXCALL.exe WINEPREFIX OBJDUMP TESTS_DIR NAME...
set -eu
archive=$1 work=$2 mexcall=$3 prefix=$4 objdump=$5 tests=$6
shift 6
rm -rf "$work"
mkdir -p "$work"
cd "$work"
cmake -E tar xf "$archive"
folder=$work/$(basename "$archive" .zip)
plugins=()
for name in "$@"; do
  for file in "$name.mexw64" "$name.m"; do
    [ -f "$folder/$file" ] || { echo "$archive: $file is missing"; exit 1; }
  done
  plugins+=("$folder/$name.mexw64")
done
for file in LICENSE README.txt Contents.m mextoolbox.m mextoolbox_test.m mextoolbox_version.m; do
  [ -f "$folder/$file" ] || { echo "$archive: $file is missing"; exit 1; }
done
extra=$(cd "$folder" && ls | grep -v -E '\.(mexw64|m|txt)$|^LICENSE$|^cases$' || true)
if [ -n "$extra" ]; then
  echo "$archive holds files a user should not get: $extra"
  exit 1
fi
"$tests/windows/check_exports.sh" "$objdump" "${plugins[@]}"
"$tests/imports/check_imports.sh" "$tests/imports/mx_names.txt" nm "$objdump" "${plugins[@]}"
"$tests/windows/run_wine.sh" "$prefix" "$mexcall" --dir "$folder" --cases "$folder"/cases/*.cases
