// Windows refuses paths of MAX_PATH characters and more (directories already from MAX_PATH - 12) unless they
// take the "\\?\" form, which in turn switches off the system's own clean-up of the path. This is the one
// place that makes that form; it is plain text work, so it is built and tested on every platform.
#pragma once

#include <string>
#include <string_view>

namespace zipcore {

// Paths shorter than this many UTF-16 units are handed to Windows as they are.
inline constexpr std::size_t kLongPathThreshold = 248;

// Given a full path ("C:\dir\file" or "\\server\share\file"), returns the path to hand to the W API:
// unchanged when short or already in the "\\?\" / "\\.\" form, otherwise "\\?\C:\..." or "\\?\UNC\server\...",
// with forward slashes turned into backslashes because the long form no longer does that itself.
// Relative paths are returned unchanged: the caller makes paths full first.
std::wstring extendedLengthPath(std::wstring_view fullPath);

}  // namespace zipcore
