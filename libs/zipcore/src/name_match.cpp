#include "zipcore/name_match.hpp"

#include <algorithm>
#include <cstdint>

#include "upper_case_table.hpp"
#include "zipcore/text.hpp"

namespace zipcore {
namespace {

std::size_t sequenceLength(unsigned char lead) {
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}

// A well-formed sequence of one to three bytes: a character of the Basic Multilingual Plane.
char16_t decodeBmp(std::string_view sequence) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(sequence[i]); };
    if (sequence.size() == 1) return byte(0);
    if (sequence.size() == 2) return static_cast<char16_t>(((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F));
    return static_cast<char16_t>(((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F));
}

void appendUtf8(std::string& out, char16_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char16_t upperCase(char16_t c) {
    const std::span<const UpperCaseMapping> table = upperCaseMappings();
    const auto found = std::lower_bound(table.begin(), table.end(), c,
                                        [](const UpperCaseMapping& m, char16_t x) { return m.from < x; });
    return found != table.end() && found->from == c ? found->upper : c;
}

// Steps over one UTF-8 character so that '?' stands for a character, not a byte.
std::size_t characterLength(std::string_view text, std::size_t at) {
    std::size_t length = 1;
    while (at + length < text.size() && (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80) ++length;
    return length;
}

bool matchesExactly(std::string_view name, std::string_view pattern) {
    std::size_t n = 0, p = 0;
    std::size_t starPattern = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starName = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += characterLength(name, n);
        } else if (p < pattern.size() && pattern[p] == name[n]) {
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

}  // namespace

std::string fileNameKey(std::string_view name) {
    std::string key;
    key.reserve(name.size());
    std::size_t at = 0;
    while (at < name.size()) {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(name[at]));
        const std::string_view sequence = name.substr(at, length);
        if (!isValidUtf8(sequence)) {
            key += name[at++];
        } else {
            if (length <= 3)
                appendUtf8(key, upperCase(decodeBmp(sequence)));
            else
                key += sequence;
            at += length;
        }
    }
    return key;
}

bool sameFileName(std::string_view a, std::string_view b) { return fileNameKey(a) == fileNameKey(b); }

bool matchesPattern(std::string_view name, std::string_view pattern, bool caseInsensitive) {
    if (!caseInsensitive) return matchesExactly(name, pattern);
    return matchesExactly(fileNameKey(name), fileNameKey(pattern));
}

}  // namespace zipcore
