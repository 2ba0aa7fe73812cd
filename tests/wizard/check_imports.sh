#!/usr/bin/env bash
# The import table of setup.exe (or uninst.exe) may name only DLLs that
# Windows always loads from its own folder (the Known DLLs, and ntdll.dll,
# which the system maps into every process first); anything else is loaded
# after start-up has narrowed the DLL search to the system folder.
#   check_imports.sh OBJDUMP PROGRAM.EXE
set -euo pipefail
known=" advapi32.dll comdlg32.dll gdi32.dll imagehlp.dll imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll
        nsi.dll ole32.dll oleaut32.dll psapi.dll rpcrt4.dll sechost.dll setupapi.dll shcore.dll shell32.dll
        shlwapi.dll user32.dll wldap32.dll ws2_32.dll combase.dll ntdll.dll "
known=$(echo "$known" | tr -s ' \n' '  ')
imports=$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "no imports found in $2"; exit 1; }
status=0
for dll in $imports; do
  case "$known" in
    *" $dll "*) echo "known: $dll" ;;
    *) echo "NOT a Known DLL: $dll"; status=1 ;;
  esac
done
exit $status
