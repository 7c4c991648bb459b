// Where the install keeps its own things under the program directory, and so the names that a package's files
// cannot take. The build asks the same question, so that an author hears of a reserved name when the package is
// made rather than when a user installs it; the journal's recovery asks it too, so that a journal can make the
// program move nothing of its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ProgramLayout.h"

namespace install_layout {

// Why this path, relative to the program directory and without a trailing '\', is one of the updater's own items
// or lies inside one, or nothing when it is not: the staging folder and the journal's folder with everything in
// them, the descriptor left in Temp\ and the lock there, and a file named Temp or Quellis.sky where the updater keeps
// its folder and looks for the package. The rest of Temp\ belongs to the suite. `isDirectory`: whether the path names a
// directory.
std::optional<std::string> OwnedByTheUpdater(std::string_view path, bool isDirectory);

// Why the install will not take a payload of this bare name into this destination (relative to the program
// directory, as NormalizeDirectory gives it: empty or ending in '\'), or nothing when it may. `signing`: whether
// packages are signed here (a key to sign with at the build, a key to check with at the install), which makes
// the signature's name the install's own.
std::optional<std::string> ReservedByTheInstall(std::string_view name, std::string_view directory, bool signing);

}  // namespace install_layout
