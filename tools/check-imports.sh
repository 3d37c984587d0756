#!/bin/sh
# check-imports.sh [--known-only] <objdump> <file.exe|dll>...: fail if any PE imports a
# DLL that is not part of Windows (e.g. libstdc++-6.dll, libgcc_s_seh-1.dll,
# libwinpthread-1.dll, zlib1.dll). With --known-only, fail on any DLL outside the
# system's known DLLs (those of Windows 7 and of Windows 10 alike): the loader takes
# those from the system folder only, every other name it looks for beside the
# executable first.
set -eu
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|shlwapi|version|ws2_32|crypt32|bcrypt|ntdll|msvcrt|ucrtbase|uxtheme|dwmapi|winhttp|wininet|rpcrt4|secur32|userenv|psapi|winmm|wintrust|msimg32|gdiplus|dbghelp|iphlpapi|netapi32|wtsapi32|mpr|api-ms-win-[a-z0-9-]+)\.dll$'
if [ "${1:-}" = --known-only ]; then
  shift
  allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|shlwapi|msvcrt|ntdll|psapi|rpcrt4|ws2_32|imm32|imagehlp|setupapi|sechost|nsi|normaliz|wldap32|clbcatq|msctf|difxapi)\.dll$'
fi
objdump=$1; shift
status=0
for f in "$@"; do
  dlls=$("$objdump" -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u)
  bad=$(printf '%s\n' "$dlls" | tr 'A-Z' 'a-z' | grep -Ev "$allowed" || true)
  printf '%-28s imports: %s\n' "$(basename "$f")" "$(printf '%s ' $dlls)"
  if [ -n "$bad" ]; then echo "  NOT ALLOWED: $bad"; status=1; fi
done
exit $status
