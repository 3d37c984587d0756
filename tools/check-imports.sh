#!/bin/sh
# check-imports.sh <objdump> <file.exe|dll>...: fail if any PE imports a DLL that is
# not part of Windows (e.g. libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll, zlib1.dll).
set -eu
objdump=$1; shift
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|shlwapi|version|ws2_32|crypt32|bcrypt|ntdll|msvcrt|ucrtbase|uxtheme|dwmapi|winhttp|wininet|rpcrt4|secur32|userenv|psapi|winmm|wintrust|msimg32|gdiplus|dbghelp|iphlpapi|netapi32|wtsapi32|mpr|api-ms-win-[a-z0-9-]+)\.dll$'
status=0
for f in "$@"; do
  dlls=$("$objdump" -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u)
  bad=$(printf '%s\n' "$dlls" | tr 'A-Z' 'a-z' | grep -Ev "$allowed" || true)
  printf '%-28s imports: %s\n' "$(basename "$f")" "$(printf '%s ' $dlls)"
  if [ -n "$bad" ]; then echo "  NON-SYSTEM DLL: $bad"; status=1; fi
done
exit $status
