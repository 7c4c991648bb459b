// Where the install keeps its own things under the program directory, and so the names that a package's files
// cannot take. The build asks the same question, so that an author hears of a reserved name when the package is
// made rather than when a user installs it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ProgramLayout.h"

namespace install_layout {

// Why the install will not take a payload of this bare name into this destination (relative to the program
// directory, as NormalizeDirectory gives it: empty or ending in '\'), or nothing when it may.
std::optional<std::string> ReservedByTheInstall(std::string_view name, std::string_view directory);

}  // namespace install_layout
