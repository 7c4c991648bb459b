// Entry names: how stored bytes become UTF-8, which names are safe to extract, and how a file's path becomes
// the name it is stored under. Entries are always extracted flat, under the last component of their name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zipcore {

inline constexpr std::uint8_t kHostUnix = 3;

// Bit 11 set: the name is UTF-8. Otherwise a name written on Unix that is valid UTF-8 is taken as UTF-8 (Debian's
// zip writes UTF-8 without the bit), and anything else is read in the machine's OEM code page.
std::string decodeEntryName(std::string_view raw, bool utf8Flag, std::uint8_t hostSystem);

// Checks the whole stored name and only then reduces it to its last component, the name of the extracted file.
// Refused (Error of kind Unsafe): empty names and components, absolute, drive and UNC names, "." and "..",
// ':' (drives, alternate data streams), control characters, characters Windows forbids in names, a trailing dot
// or space (Windows drops them and would write a different file), and Windows device names (CON, NUL, COM1, ...
// with or without an extension). Both '/' and '\' count as separators.
std::string safeFlatName(std::string_view name);

// The name a file is stored under: its last component when directories are junked; otherwise its path without
// drive, root, "." and ".." parts, with '/' between the components.
std::string entryNameForPath(std::string_view path, bool junkDirectories);

// A name fit for a message: control characters shown as '?'.
std::string printableName(std::string_view name);

}  // namespace zipcore
