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
// or space (Windows drops them and would write a different file), components longer than Windows allows
// (kMaxComponentLength UTF-16 units), and Windows device names (see isReservedDeviceName). Both '/' and '\'
// count as separators.
std::string safeFlatName(std::string_view name);

// The longest file or directory name Windows accepts, in UTF-16 units.
inline constexpr std::size_t kMaxComponentLength = 255;

// Whether one name (of a file or a directory, UTF-8) opens a Windows device instead: CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, CLOCK$, COM1-COM9, LPT1-LPT9 and COM or LPT with a superscript 1, 2 or 3, in any case, with or without
// an extension, and with spaces before the extension ("nul.txt", "CON .log").
bool isReservedDeviceName(std::string_view component);

// The name a file is stored under: its last component when directories are junked; otherwise its path without
// drive, root, "." and ".." parts, with '/' between the components.
std::string entryNameForPath(std::string_view path, bool junkDirectories);

// A name fit for a message: control characters shown as '?'.
std::string printableName(std::string_view name);

}  // namespace zipcore
