#!/bin/sh
# check-imports.sh [--known-only] <objdump> <file.exe|dll>...: fail if any PE imports a
# DLL that is not part of Windows (e.g. libstdc++-6.dll, libgcc_s_seh-1.dll,
# libwinpthread-1.dll, zlib1.dll). With --known-only, fail on any DLL outside the
# system's known DLLs (those of Windows 7 and of Windows 10 alike): the loader takes
# those from the system folder only, every other name it looks for beside the
# executable first.
#   check-imports.sh --self-test <objdump> <C compiler>
# builds small planted PEs in a scratch folder (one importing a DLL of its own, one
# importing wininet.dll, one importing only kernel32 and msvcrt) and checks that each list
# refuses exactly what it must.
set -eu
if [ "${1:-}" = --self-test ]; then
  objdump=$2 cc=$3 self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  cd "$scratch"
  printf '__declspec(dllexport) int Planted(void) { return 1; }\n' > planted.c
  printf 'int Planted(void);\nint main(void) { return Planted(); }\n' > uses_planted.c
  printf '#include <windows.h>\n#include <wininet.h>\nint main(void) { return InternetOpenW(L"x", 0, 0, 0, 0) != 0; }\n' > uses_wininet.c
  printf '#include <windows.h>\nint main(void) { return (int)GetTickCount(); }\n' > system_only.c
  "$cc" -shared -o planted.dll planted.c -Wl,--out-implib,libplanted.a
  "$cc" -o uses_planted.exe uses_planted.c -L. -lplanted
  "$cc" -o uses_wininet.exe uses_wininet.c -lwininet
  "$cc" -o system_only.exe system_only.c
  wrong=0
  # case: options, file, whether it must be refused
  for case in ":uses_planted.exe:yes" ":uses_wininet.exe:no" ":system_only.exe:no" \
              "--known-only:uses_planted.exe:yes" "--known-only:uses_wininet.exe:yes" \
              "--known-only:system_only.exe:no"; do
    options=${case%%:*} rest=${case#*:}
    file=${rest%%:*} expected=${rest#*:}
    # shellcheck disable=SC2086
    if sh "$self" $options "$objdump" "$file" > out.txt 2>&1; then refused=no; else refused=yes; fi
    if [ "$refused" != "$expected" ]; then
      wrong=$((wrong + 1))
      echo "$options $file: expected refused: $expected, got: $refused"
      cat out.txt
    fi
  done
  echo "6 planted cases, $wrong wrong"
  [ "$wrong" -eq 0 ]
  exit
fi
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
