#include "ConsoleText.h"

#include <windows.h>

#include "Text.h"

namespace {

void WriteTo(DWORD stream, std::string_view utf8)
{
    const HANDLE handle = GetStdHandle(stream);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = Widen(utf8);
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    }
}

}  // namespace

void WriteOut(std::string_view utf8)
{
    WriteTo(STD_OUTPUT_HANDLE, utf8);
}

void WriteError(std::string_view utf8)
{
    WriteTo(STD_ERROR_HANDLE, utf8);
}
