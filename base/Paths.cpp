#include "Paths.h"

#include <vector>
#include <windows.h>

#include "Text.h"

std::wstring ExecutablePath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);  // truncated: the path is longer than the buffer
    }
}

std::string ProgramDirectory()
{
    const std::wstring path = ExecutablePath();
    return Narrow(path.substr(0, path.find_last_of(L"\\/:") + 1));
}

std::vector<std::string> DirectoryPrefixes(std::string_view path)
{
    std::vector<std::string> prefixes;
    for (size_t separator = path.find('\\'); separator != std::string_view::npos;
         separator = path.find('\\', separator + 1)) {
        prefixes.emplace_back(path.substr(0, separator + 1));
    }
    return prefixes;
}

std::wstring ToApiPath(std::string_view path)
{
    std::wstring wide = Widen(path);
    if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return wide;
    if (wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\') return L"\\\\?\\" + wide;
    if (wide.size() >= 2 && wide[0] == L'\\' && wide[1] == L'\\') return L"\\\\?\\UNC\\" + wide.substr(2);
    return wide;
}

static DWORD Attributes(std::string_view path)
{
    return GetFileAttributesW(ToApiPath(path).c_str());
}

bool FileExists(std::string_view path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(std::string_view path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ExtractFileName(std::string_view path)
{
    const auto separator = path.find_last_of("\\:");
    return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}
