#!/usr/bin/env bash
# Runs a Windows program of the cross-build under Wine for ctest.
#
#   run_wine.sh PREFIX PROGRAM.exe ARG...
#
# PREFIX is the Wine prefix to use (made on first use, about 8 s and 700 MB,
# so one per build folder). Arguments that are absolute Unix paths are passed
# as Z: paths. Wine's helper processes keep inherited pipes open for seconds
# after the program ends, so the output goes to a file that is printed here.
set -u
prefix=$1
program=$2
shift 2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  if ! wineboot --init > "$prefix.log" 2>&1 < /dev/null; then
    cat "$prefix.log"
    echo "run_wine: could not create the Wine prefix $prefix"
    exit 1
  fi
fi

args=()
for arg in "$@"; do
  case $arg in
    /*) args+=("Z:$arg") ;;
    *) args+=("$arg") ;;
  esac
done

output=$(mktemp)
wine "$program" "${args[@]}" > "$output" 2>&1 < /dev/null
status=$?
cat "$output"
rm -f "$output"
exit $status
