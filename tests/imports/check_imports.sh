#!/usr/bin/env bash
# Every MX/MEX function a plug-in imports must be one that MATLAB's libmx and
# libmex export under that exact name (mx_names.txt); otherwise the plug-in
# would fail to load there. Reads the dynamic symbol table of Linux plug-ins
# (undefined symbols, with nm) and the import tables of Windows plug-ins
# (the entries from libmx.dll and libmex.dll, with objdump -p).
#
# A Linux plug-in must also import no allocator of the C or C++ library
# (malloc, calloc, realloc, free and their kin, any operator new, new[],
# delete or delete[]): every block it holds is taken from the host through a
# Scratch (common/scratch.h), so that the host reclaims it after an error
# and the allocation-failure tests reach it. A Windows plug-in carries its
# C++ runtime inside (linked statically), so its import table cannot show
# this; the Linux build of the same sources is what is checked.
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

# Every allocator a Linux plug-in might import from the C or C++ library.
allocator_names() {
  "$nm" -D --undefined-only "$1" | awk '{ print $NF }' | sed 's/@.*//' | grep -E \
    '^(_Znw|_Zna|_Zdl|_Zda)|^(malloc|calloc|realloc|reallocarray|free|aligned_alloc|posix_memalign|memalign|valloc|pvalloc|strdup|strndup)$'
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
  memory=""
  case $plugin in
    *.mexw64) ;;
    *)
      allocators=$(allocator_names "$plugin" | sort -u)
      if [ -n "$allocators" ]; then
        echo "$plugin takes memory behind the host's back; it imports:" $allocators
        status=1
      else
        memory=", no C or C++ allocator"
      fi
      ;;
  esac
  unknown=$(comm -23 <(printf '%s\n' "$names") <(printf '%s\n' "$allowed"))
  if [ -n "$unknown" ]; then
    echo "$plugin imports names MATLAB does not export:" $unknown
    status=1
  else
    echo "$(basename "$plugin"): $(printf '%s\n' "$names" | wc -l) MX/MEX imports, all real names$memory"
  fi
done
exit $status
