// One of the archive libraries, loaded from the program directory for the length of one operation.
#pragma once

#include <optional>
#include <string>
#include <windows.h>

#include "Errors.h"
#include "Handles.h"

// A name that the library in place cannot be given: the system's code page cannot hold it.
class EArchiveNameError : public Exception {
public:
    EArchiveNameError(const std::string& library, const std::string& name);
};

class ArchiveLibrary {
public:
    // Loads programDirectory + fileName; Loaded() says whether that worked.
    ArchiveLibrary(const std::string& programDirectory, const std::string& fileName);

    bool Loaded() const { return module_ != nullptr; }

    // The entry point of that name, or null when the library lacks it.
    template <typename Function>
    Function Resolve(const char* name) const
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_.get(), name)));
    }

    // A UTF-8 name as this library reads it: unchanged for ours, which say they take UTF-8; in the system's ANSI
    // code page for Info-ZIP's own, which suites in the field still hold. Nothing when the code page cannot hold
    // the name: a best-fit or '?' substitute would name another file.
    std::optional<std::string> Encode(const std::string& name) const;

    // Encode, or EArchiveNameError naming the name.
    std::string EncodeOrThrow(const std::string& name) const;

private:
    std::string fileName_;
    UniqueModule module_;
    UINT codePage_ = CP_ACP;
};
