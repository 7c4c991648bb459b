// A DLL that loads but exports none of the archive libraries' entry points.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI NotAnArchiveFunction()
{
    return 0;
}
