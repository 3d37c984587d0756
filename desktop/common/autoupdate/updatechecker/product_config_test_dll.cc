// A resource-only stand-in for "_harborlib.pyd": the tests copy it under that name beside
// a host that has no configuration of its own.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
