#include "zipcore/long_path.hpp"

#include <algorithm>

namespace zipcore {

std::wstring extendedLengthPath(std::wstring_view fullPath) {
    std::wstring path(fullPath);
    if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\") || path.size() < kLongPathThreshold) return path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    const bool isDrivePath = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
    if (isDrivePath) return L"\\\\?\\" + path;
    if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
    return std::wstring(fullPath);
}

}  // namespace zipcore
