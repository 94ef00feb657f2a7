#!/usr/bin/env bash
# Builds every plug-in the way build_mextoolbox does in MATLAB (the ones
# toolbox/plugins.txt lists, read here as build_mextoolbox reads it), with the
# compile and link steps of MATLAB's mex on Linux (g++), against the bundled
# host's headers, which declare what MATLAB's do: MATLAB's default defines
# and -std=c++11, then the size family flag's defines and the compiler
# flags build_mextoolbox appends (read from build_mextoolbox.m itself), mex's
# own API version function in place of ours, no -Werror. Then checks what
# MATLAB would: every MX/MEX name imported is one MATLAB exports, and every
# case file gives its results through the bundled host, which loads each
# plug-in by the API version it reports.
#
#   mex_build_test.sh SOURCE_DIR BUNDLED_DIR OUT_DIR CXX NM
set -eu
source_dir=$1
bundled_dir=$2
out=$3
cxx=$4
nm=$5
list=$source_dir/toolbox/plugins.txt

# What build_mextoolbox appends to mex's C++ flags on Linux.
appended=$(sed -n "s/.*'CXXFLAGS=\$CXXFLAGS \([^']*\)'.*/\1/p" "$source_dir/build_mextoolbox.m")
if [ -z "$appended" ]; then
  echo "mex_build_test: build_mextoolbox.m passes no CXXFLAGS=\$CXXFLAGS ... to mex"
  exit 1
fi
# mex's own compile flags for C++ on glnxa64, before the ones appended.
mex_flags="-DMATLAB_DEFAULT_RELEASE=R2017b -DUSE_MEX_CMD -D_GNU_SOURCE -DMATLAB_MEX_FILE
  -fexceptions -fPIC -fno-omit-frame-pointer -pthread -std=c++11 -O2 -fwrapv -DNDEBUG"

rm -rf "$out"
mkdir -p "$out/obj"
plugins=()
# NAME FOLDER SIZES SOURCE... per line; # starts a comment.
while read -r name folder api sources <&3; do
  case $name in '' | '#'*) continue ;; esac
  case $api in
    32) family="-DMX_COMPAT_32" ;;   # -compatibleArrayDims
    64) family="-DMX_COMPAT_64" ;;   # -largeArrayDims
    *) echo "mex_build_test: $list: $name has the size family '$api', not 32 or 64"; exit 1 ;;
  esac
  objects=()
  for source in $sources; do
    object="$out/obj/$name-$source.o"
    # shellcheck disable=SC2086
    "$cxx" -c $mex_flags $family -DTOOLBOX_HOST_MATLAB -I"$source_dir/host/include" \
      -I"$source_dir/common" -I"$source_dir/$folder" $appended "$source_dir/$folder/$source" \
      -o "$object"
    objects+=("$object")
  done
  "$cxx" -c -O2 -fPIC $family "$source_dir/tests/matlab/mex_version_stub.c" \
    -o "$out/obj/$name-version.o"
  "$cxx" -pthread -Wl,--no-undefined -shared -O \
    -Wl,--version-script="$source_dir/common/mexplugin.map" \
    "${objects[@]}" "$out/obj/$name-version.o" -L"$bundled_dir" -lmx -lmex -lm -lstdc++ \
    -Wl,-rpath,"$bundled_dir" -o "$out/$name.mexa64"
  plugins+=("$out/$name.mexa64")
  echo "$name: built as MATLAB's mex would ($family $appended)"
done 3<"$list"
[ ${#plugins[@]} -gt 0 ] || { echo "mex_build_test: $list lists no plug-ins"; exit 1; }

"$source_dir/tests/imports/check_imports.sh" "$source_dir/tests/imports/mx_names.txt" "$nm" none \
  "${plugins[@]}"
"$bundled_dir/mexcall" --dir "$out" --cases "$source_dir"/tests/cases/*.cases
