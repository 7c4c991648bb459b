#include "zipcore/name_match.hpp"

namespace zipcore {
namespace {

char fold(char c, bool caseInsensitive) {
    return caseInsensitive && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Steps over one UTF-8 character so that '?' stands for a character, not a byte.
std::size_t characterLength(std::string_view text, std::size_t at) {
    std::size_t length = 1;
    while (at + length < text.size() && (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80) ++length;
    return length;
}

}  // namespace

bool matchesPattern(std::string_view name, std::string_view pattern, bool caseInsensitive) {
    std::size_t n = 0, p = 0;
    std::size_t starPattern = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starName = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += characterLength(name, n);
        } else if (p < pattern.size() && fold(pattern[p], caseInsensitive) == fold(name[n], caseInsensitive)) {
            ++p;
            ++n;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern + 1;
            n = starName += characterLength(name, starName);
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace zipcore
