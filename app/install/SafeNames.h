// What a file name and a destination directory taken from an update package may look like: a bare name that
// stays where it is put, and a directory inside the program directory. A package comes from outside; without
// these checks a name such as ..\..\x.dll or C:\Windows\x.dll would be written wherever it points.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Why a bare file name is refused (a text for the user), or nothing when it is fine.
std::optional<std::string> FileNameProblem(std::string_view name);

// Why a destination directory, relative to the program directory, is refused, or nothing. The empty text is the
// program directory itself; '/' separates directories as '\' does; a trailing separator is optional.
std::optional<std::string> DirectoryProblem(std::string_view path);

// The directory as the install uses it: backslashes only, and ending in one unless it is empty (a path written
// without its trailing backslash still names a directory).
std::string NormalizeDirectory(std::string_view path);

// A relative path of valid names and nothing else, as the install journal records them.
bool IsSafeRelativePath(std::string_view path);

// Equal under the file system's rule: without regard to case, as NTFS compares (the archive core's rule, so that
// the program and the archive libraries never disagree).
bool SameFileName(std::string_view a, std::string_view b);
