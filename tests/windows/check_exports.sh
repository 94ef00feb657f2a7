#!/usr/bin/env bash
# A Windows plug-in exports mexFunction and nothing else, and imports from
# nothing but KERNEL32, the C runtime (msvcrt) and libmex.dll.
#
#   check_exports.sh OBJDUMP PLUGIN.mexw64
set -u
objdump=$1
plugin=$2
table=$("$objdump" -p "$plugin") || { echo "cannot read $plugin"; exit 1; }

exports=$(printf '%s\n' "$table" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
imports=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)

status=0
if [ "$exports" != "mexFunction" ]; then
  echo "exports differ: expected only mexFunction, found:"
  printf '  %s\n' $exports
  status=1
fi
for dll in $imports; do
  case $dll in
    kernel32.dll | msvcrt.dll | libmex.dll) ;;
    *) echo "unexpected import: $dll"; status=1 ;;
  esac
done
if ! printf '%s\n' $imports | grep -qx 'libmex.dll'; then
  echo "libmex.dll is not imported"
  status=1
fi
[ $status -eq 0 ] && echo "$plugin: exports mexFunction only; imports: $(echo $imports)"
exit $status
