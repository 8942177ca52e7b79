// The DLL's entry point: library load and unload bracket the application
// object. A refused attach refuses the load.
#include "platform/module.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return ombrix::shell::attach_library() != 0 ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        ombrix::shell::detach_library();
        break;
    default:
        break;
    }
    return TRUE;
}
