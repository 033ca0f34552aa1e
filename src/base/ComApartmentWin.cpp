#include "base/ComApartment.h"

#include <windows.h>

#include <objbase.h>

void EnsureComApartment()
{
    thread_local bool joined = false;
    if (!joined) {
        // A thread already in a single-threaded apartment keeps it (RPC_E_CHANGED_MODE);
        // COM is usable there as well.
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        joined = true;
    }
}
