// An image that carries the two sections of an instrumenting rewriter: exits 0 when
// IsInstrumentedImage sees them.
#include <windows.h>

#include "base/win/win_util.h"

__attribute__((section(".thunks"), used)) const char kThunksSection[16] = {1};
__attribute__((section(".syzygy"), used)) const char kSyzygySection[16] = {1};

int wmain() { return base::IsInstrumentedImage() ? 0 : 1; }
