// Text helpers: names are UTF-8 everywhere inside the core; legacy archive names come in the OEM code page,
// and the Windows API wants UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace zipcore {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

// Decodes a name stored in the OEM code page of the machine: GetOEMCP() on Windows (936 on a Chinese system),
// CP437 elsewhere, the code page of the DOS machines that wrote the first ZIP archives.
std::string decodeOemText(std::string_view raw);

// The length of a UTF-8 text in UTF-16 units, the measure of Windows's limits: characters beyond the Basic
// Multilingual Plane count twice.
std::size_t utf16Length(std::string_view utf8);

#ifdef _WIN32
std::wstring toUtf16(std::string_view utf8);
std::string toUtf8(std::wstring_view utf16);
#endif

}  // namespace zipcore
