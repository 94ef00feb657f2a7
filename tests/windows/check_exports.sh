#!/usr/bin/env bash
# Each Windows plug-in exports mexFunction and nothing else, and imports
# from nothing but KERNEL32, the C runtime (msvcrt), libmx.dll and
# libmex.dll.
#
#   check_exports.sh OBJDUMP PLUGIN.mexw64...
set -u
objdump=$1
shift
status=0
for plugin in "$@"; do
  table=$("$objdump" -p "$plugin") || { echo "cannot read $plugin"; status=1; continue; }
  exports=$(printf '%s\n' "$table" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
  imports=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  ok=1
  if [ "$exports" != "mexFunction" ]; then
    echo "$plugin: exports differ: expected only mexFunction, found:"
    printf '  %s\n' $exports
    ok=0
  fi
  for dll in $imports; do
    case $dll in
      kernel32.dll | msvcrt.dll | libmx.dll | libmex.dll) ;;
      *) echo "$plugin: unexpected import: $dll"; ok=0 ;;
    esac
  done
  if ! printf '%s\n' $imports | grep -qx 'libmex.dll'; then
    echo "$plugin: libmex.dll is not imported"
    ok=0
  fi
  if [ $ok -eq 1 ]; then
    echo "$(basename "$plugin"): exports mexFunction only; imports: $(echo $imports)"
  else
    status=1
  fi
done
exit $status
