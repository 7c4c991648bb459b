#include "zipcore/entry_name.hpp"

#include <algorithm>
#include <vector>

#include "zipcore/error.hpp"
#include "zipcore/file_system.hpp"
#include "zipcore/name_match.hpp"
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
        if (utf16Length(part) > kMaxComponentLength) refuse(name, "a component is longer than Windows allows");
        if (isReservedDeviceName(part)) refuse(name, "a Windows device name");
    }
    return std::string(parts.back());
}

bool isReservedDeviceName(std::string_view component) {
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    const std::string key = fileNameKey(base);
    static constexpr std::string_view kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    if (std::ranges::find(kDevices, key) != std::end(kDevices)) return true;
    // Windows maps the superscript digits to the first three ports as well.
    static constexpr std::string_view kPorts[] = {"1", "2", "3", "4",        "5",        "6",
                                                  "7", "8", "9", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
    const std::string_view prefix = std::string_view(key).substr(0, 3);
    return (prefix == "COM" || prefix == "LPT") &&
           std::ranges::find(kPorts, std::string_view(key).substr(3)) != std::end(kPorts);
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
