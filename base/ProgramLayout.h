// The program directory's layout: every name the updater reads, writes or keeps for itself there, relative to the
// program directory (ProgramDirectory()). Folders end in a backslash.
#pragma once

#include <string>
#include <string_view>

namespace layout {

// The user's road.
inline constexpr std::string_view kPackage = "Quellis.sky";
inline constexpr std::string_view kTemp = "Temp\\";
// Each run unpacks the package into an emptied staging folder of its own, so that nothing an earlier run left can
// be taken for a file of this package; the install journal lives beside it, never among the unpacked entries.
inline constexpr std::string_view kStaging = "Temp\\Package\\";
inline constexpr std::string_view kJournal = "Temp\\InstallJournal\\";
inline constexpr std::string_view kDescriptor = "update.xml";  // inside the staging folder, as the install reads it
// The descriptor of the package installed last, its bytes as the package stored them: the suite's other programs
// and support read it there.
inline constexpr std::string_view kInstalledDescriptor = "Temp\\update.xml";
// Held open by the one install or build running in this program directory.
inline constexpr std::string_view kUpdateLock = "Temp\\Update.lock";
// The log support reads: what each run did and said. One older log is kept beside it.
inline constexpr std::string_view kUpdateLog = "Temp\\Update.log";
inline constexpr std::string_view kOlderUpdateLog = "Temp\\Update.log.1";
// A signed package's signature over its descriptor, as the build packs it and the install finds it unpacked.
inline constexpr std::string_view kSignature = "Update.sig";
// The author's public key: with it beside Update.exe, the install takes only packages signed with its private key.
inline constexpr std::string_view kTrustedKey = "UpdateKey.pub";
// Beside it, the version of the last signed package installed: a signed package must be newer than that.
inline constexpr std::string_view kVersionFloor = "UpdateKey.floor";
inline constexpr std::string_view kLocalDatabase = "Data\\Quellis.SDB";

// The author's road.
inline constexpr std::string_view kAuthorMarker = "aaa.aaa";
inline constexpr std::string_view kAuthorFiles = "FilesToUpdate\\";
inline constexpr std::string_view kFileList = "FilesToUpdate\\Files.xml";
inline constexpr std::string_view kOutput = "Output\\";
inline constexpr std::string_view kBuiltDescriptor = "Update.xml";  // as the build writes and packs it
inline constexpr std::string_view kServerSettings = "config.ini";

// The package F2 writes into Output\ for one step from one version to the next.
inline std::string PackageFileName(const std::string& fromVersion, const std::string& toVersion)
{
    return "Quellis" + fromVersion + "_" + toVersion + ".sky";
}

}  // namespace layout
