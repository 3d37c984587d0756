// Exits 0 when this process sees the id given as its only argument as its parent.
#include <windows.h>

#include <stdlib.h>

#include "base/process/process_util.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const unsigned long expected = wcstoul(argv[1], nullptr, 10);
  return base::GetParentProcessId(GetCurrentProcess()) == expected ? 0 : 1;
}
