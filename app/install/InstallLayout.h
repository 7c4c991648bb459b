// Where the install keeps its own things under the program directory, and so the names that a package's files
// cannot take. The build asks the same question, so that an author hears of a reserved name when the package is
// made rather than when a user installs it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace install_layout {

// Relative to the program directory. Each run unpacks the package into an emptied staging folder of its own, so
// that nothing an earlier run left can be taken for a file of this package; the journal lives beside it, never
// among the unpacked entries.
inline constexpr std::string_view kTemp = "Temp\\";
inline constexpr std::string_view kStaging = "Temp\\Package\\";
inline constexpr std::string_view kJournal = "Temp\\InstallJournal\\";
inline constexpr std::string_view kPackage = "Quellis.sky";
inline constexpr std::string_view kDescriptor = "update.xml";  // inside the staging folder

// Why the install will not take a payload of this bare name into this destination (relative to the program
// directory, as NormalizeDirectory gives it: empty or ending in '\'), or nothing when it may.
std::optional<std::string> ReservedByTheInstall(std::string_view name, std::string_view directory);

}  // namespace install_layout
