#!/usr/bin/env bash
# check_imports.sh <objdump> <dll>...: fails when a DLL imports anything but
# the Windows system DLLs below (a MinGW runtime DLL would make regsvr32 fail
# on a machine without it).
set -u
objdump=$1; shift
allowed='^(kernel32|advapi32|ole32|oleaut32|user32|msvcrt)\.dll$'
status=0
for dll in "$@"; do
  imports=$("$objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p')
  [[ -n $imports ]] || { echo "$dll: no import table found"; status=1; continue; }
  while read -r name; do
    if [[ ${name,,} =~ $allowed ]]; then
      echo "$(basename "$dll"): $name"
    else
      echo "$(basename "$dll"): $name is not a Windows system DLL"
      status=1
    fi
  done <<<"$imports"
done
exit $status
