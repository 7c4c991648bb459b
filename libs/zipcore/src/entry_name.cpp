#include "zipcore/entry_name.hpp"

#include <array>
#include <vector>

#include "zipcore/error.hpp"
#include "zipcore/file_system.hpp"
#include "zipcore/text.hpp"

namespace zipcore {
namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string_view> splitComponents(std::string_view name) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || isSeparator(name[i])) {
            parts.push_back(name.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// CON, NUL, COM1 and their kin open devices whatever extension follows them ("nul.txt", "aux.c", "CON .txt").
bool isDeviceName(std::string_view component) {
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    const std::string lower = asciiLower(base);
    static constexpr std::array kDevices = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices)
        if (lower == device) return true;
    if (lower.size() >= 4 && (lower.starts_with("com") || lower.starts_with("lpt"))) {
        const std::string_view number = std::string_view(lower).substr(3);
        // COM1-9, LPT1-9, and the superscript digits that Windows also maps to ports.
        if (number.size() == 1 && number[0] >= '1' && number[0] <= '9') return true;
        if (number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3") return true;
    }
    return false;
}

[[noreturn]] void refuse(std::string_view name, const char* reason) {
    throw Error(ErrorKind::Unsafe, "refused entry \"" + printableName(name) + "\": " + reason);
}

}  // namespace

std::string decodeEntryName(std::string_view raw, bool utf8Flag, std::uint8_t hostSystem) {
    if (utf8Flag) {
        if (!isValidUtf8(raw)) throw Error(ErrorKind::Corrupt, "an entry name marked as UTF-8 is not valid UTF-8");
        return std::string(raw);
    }
    if (hostSystem == kHostUnix && isValidUtf8(raw)) return std::string(raw);
    return decodeOemText(raw);
}

std::string safeFlatName(std::string_view name) {
    if (name.empty()) refuse(name, "the name is empty");
    if (isSeparator(name.front())) refuse(name, "an absolute or network path");
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) refuse(name, "a control character in the name");
        if (c == ':') refuse(name, "a drive or stream name (':')");
        if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            refuse(name, "a character that Windows forbids in file names");
    }
    const std::vector<std::string_view> parts = splitComponents(name);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string_view part = parts[i];
        if (part.empty()) {
            if (i + 1 == parts.size()) refuse(name, "the name ends in a separator");
            continue;
        }
        if (part == "." || part == "..") refuse(name, "a path that climbs out of the target directory");
        if (part.back() == '.' || part.back() == ' ') refuse(name, "a component ends in a dot or a space");
        if (isDeviceName(part)) refuse(name, "a Windows device name");
    }
    return std::string(parts.back());
}

std::string entryNameForPath(std::string_view path, bool junkDirectories) {
    std::string name;
    if (junkDirectories) {
        name = lastPathComponent(std::string(path));
    } else {
        if (path.size() >= 2 && path[1] == ':') path.remove_prefix(2);
        for (const std::string_view part : splitComponents(path)) {
            if (part.empty() || part == "." || part == "..") continue;
            if (!name.empty()) name += '/';
            name += part;
        }
    }
    if (name.empty()) throw Error(ErrorKind::Usage, "no file name in \"" + printableName(path) + "\"");
    if (!isValidUtf8(name)) throw Error(ErrorKind::Usage, "the file name \"" + printableName(path) + "\" is not UTF-8");
    if (name.size() > 0xFFFF) throw Error(ErrorKind::Usage, "the file name is too long for a ZIP archive");
    return name;
}

std::string printableName(std::string_view name) {
    std::string result(name);
    for (char& c : result)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return result;
}

}  // namespace zipcore
