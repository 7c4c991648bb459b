// RAII owners for the Windows handles the program opens.
#pragma once

#include <memory>
#include <windows.h>

struct HandleCloser {
    void operator()(HANDLE h) const
    {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// INVALID_HANDLE_VALUE is what CreateFileW returns on failure; the owner then holds nothing.
inline UniqueHandle OwnHandle(HANDLE h)
{
    return UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

struct FindCloser {
    void operator()(HANDLE h) const
    {
        if (h != INVALID_HANDLE_VALUE) FindClose(h);  // a failed search has nothing to close
    }
};
using UniqueFind = std::unique_ptr<void, FindCloser>;

struct ModuleFreer {
    void operator()(HMODULE m) const { FreeLibrary(m); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

struct GdiObjectDeleter {
    void operator()(HGDIOBJ o) const { DeleteObject(o); }
};
template <typename T>
using UniqueGdi = std::unique_ptr<std::remove_pointer_t<T>, GdiObjectDeleter>;
