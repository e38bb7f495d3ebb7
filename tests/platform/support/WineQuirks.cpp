#include "WineQuirks.h"

#include "platform/Win32.h"

bool RunningUnderWine()
{
#ifdef _WIN32
    // An export of Wine's own system library that Windows does not have.
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
#else
    return false;
#endif
}
