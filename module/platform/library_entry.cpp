// The library entry point: the module has nothing to set up or tear down on
// load, unload or thread attach, so every reason reports success.
#ifdef _WIN32
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
