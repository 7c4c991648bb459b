#include "install/VersionFloor.h"

#include <optional>

#include "DottedVersion.h"
#include "FileBytes.h"
#include "Notice.h"
#include "ProgramLayout.h"
#include "install/InstallTexts.h"

namespace {

// A version is never longer than the descriptor that carried it, which the install reads up to this size.
constexpr std::size_t kLargestFloorFile = 64u << 20;

// The floor's version, or nothing when no floor file is there. As with the key beside it, only the system's "not
// found" means no floor: a folder of that name or a file that cannot be read refuses.
std::optional<std::string> ReadFloor(const std::string& path)
{
    std::string text;
    try {
        const std::vector<std::uint8_t> bytes = signing::ReadFileBytes(path, kLargestFloorFile);
        text.assign(bytes.begin(), bytes.end());
    } catch (const EFileOperationError& error) {
        if (error.NotFound()) return std::nullopt;
        throw ERefusal(ErrorNotice(install_text::VersionFloorUnreadable(path, SystemReason(error.Code()))));
    }
    if (text.ends_with("\n")) text.pop_back();
    if (text.ends_with("\r")) text.pop_back();
    if (!IsDottedVersion(text)) {
        throw ERefusal(ErrorNotice(install_text::VersionFloorUnreadable(path, "其中没有有效的版本号")));
    }
    return text;
}

}  // namespace

void RefuseReplayedPackage(const std::string& programDirectory, const std::string& packageVersion)
{
    const std::optional<std::string> floor = ReadFloor(programDirectory + std::string(layout::kVersionFloor));
    if (!IsDottedVersion(packageVersion)) throw ERefusal(ErrorNotice(install_text::VersionNotDotted(packageVersion)));
    if (floor && CompareDottedVersions(packageVersion, *floor) <= 0) {
        throw ERefusal(ErrorNotice(install_text::PackageNotNewer(*floor, packageVersion)));
    }
}

std::string VersionFloorText(const std::string& version)
{
    return version + "\r\n";
}
