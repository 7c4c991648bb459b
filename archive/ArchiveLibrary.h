// One of the archive libraries, loaded from the program directory for the length of one operation.
#pragma once

#include <string>
#include <windows.h>

#include "Handles.h"

class ArchiveLibrary {
public:
    // Loads the program directory + fileName; Loaded() says whether that worked.
    explicit ArchiveLibrary(const std::string& fileName);

    bool Loaded() const { return module_ != nullptr; }

    // The entry point of that name, or null when the library lacks it.
    template <typename Function>
    Function Resolve(const char* name) const
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_.get(), name)));
    }

private:
    UniqueModule module_;
};
