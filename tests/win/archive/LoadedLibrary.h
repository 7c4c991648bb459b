// One of the archive libraries beside the test executable, loaded for the life of one object as the program's
// wrapper loads it, with its entry points by name.
#pragma once

#include <filesystem>
#include <windows.h>

class LoadedLibrary {
public:
    explicit LoadedLibrary(const wchar_t* name)
    {
        wchar_t exe[MAX_PATH];
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        module_ = LoadLibraryW((std::filesystem::path(exe).parent_path() / name).c_str());
    }
    ~LoadedLibrary()
    {
        if (module_) FreeLibrary(module_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    bool loaded() const { return module_ != nullptr; }
    template <typename Function>
    Function get(const char* name) const
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

private:
    HMODULE module_ = nullptr;
};
