#!/usr/bin/env bash
# Every MX/MEX function a plug-in imports must be one that MATLAB's libmx and
# libmex export under that exact name (mx_names.txt); otherwise the plug-in
# would fail to load there. Reads the dynamic symbol table of Linux plug-ins
# (undefined symbols, with nm) and the import tables of Windows plug-ins
# (the entries from libmx.dll and libmex.dll, with objdump -p).
#
#   check_imports.sh NAMES_FILE NM OBJDUMP PLUGIN...
#
# A plug-in ending in .mexw64 is read as a Windows DLL, any other as ELF.
set -u
names_file=$1
nm=$2
objdump=$3
shift 3
if [ $# -eq 0 ]; then
  echo "check_imports: no plug-ins given"
  exit 1
fi

allowed=$(awk '$1 == "plain" { print $2 } $1 == "sized" { print $2 "_700"; print $2 "_730" }' \
  "$names_file" | sort -u)

imported_names() {
  case $1 in
    *.mexw64)
      "$objdump" -p "$1" | awk '
        /DLL Name:/ { dll = tolower($3); next }
        /^[[:space:]]*$/ { dll = "" }
        (dll == "libmx.dll" || dll == "libmex.dll") && NF >= 3 && $1 ~ /^[0-9a-f]+$/ { print $NF }'
      ;;
    *)
      "$nm" -D --undefined-only "$1" | awk '{ print $NF }' | sed 's/@.*//' | grep -E '^(mx|mex)[A-Z]' ;;
  esac
}

status=0
for plugin in "$@"; do
  if [ ! -f "$plugin" ]; then
    echo "$plugin: missing"
    status=1
    continue
  fi
  names=$(imported_names "$plugin" | sort -u)
  if [ -z "$names" ]; then
    echo "$plugin: no MX/MEX imports found (the table could not be read)"
    status=1
    continue
  fi
  unknown=$(comm -23 <(printf '%s\n' "$names") <(printf '%s\n' "$allowed"))
  if [ -n "$unknown" ]; then
    echo "$plugin imports names MATLAB does not export:" $unknown
    status=1
  else
    echo "$(basename "$plugin"): $(printf '%s\n' "$names" | wc -l) MX/MEX imports, all real names"
  fi
done
exit $status
