// Text conversions at the Windows API boundary.
#include <windows.h>

#include "zipcore/error.hpp"
#include "zipcore/text.hpp"

namespace zipcore {
namespace {

std::wstring toWide(UINT codePage, DWORD flags, std::string_view text, const char* what) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) throw Error(ErrorKind::Usage, what);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

}  // namespace

std::wstring toUtf16(std::string_view utf8) {
    return toWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, "a name is not valid UTF-8");
}

std::string toUtf8(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), result.data(), length, nullptr,
                        nullptr);
    return result;
}

std::string decodeOemText(std::string_view raw) {
    return toUtf8(toWide(GetOEMCP(), 0, raw, "an entry name cannot be decoded in the OEM code page"));
}

}  // namespace zipcore
