// An empty library that tests load from paths longer than MAX_PATH.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
