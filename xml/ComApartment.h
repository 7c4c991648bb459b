// COM for the calling thread, for as long as the object lives. The program's entry point makes one for the GUI
// thread before any XML document exists, and drops it after the last one is gone.
#pragma once

#include <objbase.h>

#include "ComTypes.h"

class ComApartment {
public:
    ComApartment()
    {
        // MSXML's DOM objects are apartment-threaded: a single-threaded apartment on the GUI thread suits them.
        CheckHResult(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE),
                     "Cannot initialise COM");
    }
    ~ComApartment() { CoUninitialize(); }

    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};
