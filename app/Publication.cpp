#include "Publication.h"

#include <cstdint>
#include <optional>

#include "Handles.h"
#include "Notice.h"
#include "Paths.h"
#include "ProgramLayout.h"
#include "UpdateServer.h"

namespace {

// The server's size column is a signed 32-bit integer.
constexpr std::uint64_t kLargestRegistrableSize = INT32_MAX;

// The package's size, when it is there as a file we may publish: hidden and system files and directories are not.
std::optional<std::uint64_t> PublishableFileSize(const std::string& path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(ToApiPath(path).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    const UniqueFind closer(search);
    constexpr DWORD kExcluded = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
    if (found.dwFileAttributes & kExcluded) return std::nullopt;
    return (std::uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

}  // namespace

TPublication::TPublication(odbc::Connection& server, std::string programDirectory)
    : server_(server), programDirectory_(std::move(programDirectory))
{
}

bool TPublication::Publish(const std::string& packagePath, const std::string& toVersion, const std::string& fromVersion)
{
    const ServerSettings settings = ReadServerSettings(programDirectory_ + std::string(layout::kServerSettings));

    const std::optional<std::uint64_t> size = PublishableFileSize(packagePath);
    if (!size) return false;
    if (*size > kLargestRegistrableSize) {
        throw ERefusal(ErrorNotice("升级包大小超过2GB，服务器无法登记：" + ExtractFileName(packagePath)));
    }

    const PackageRecord record{fromVersion, toVersion, ExtractFileName(packagePath), static_cast<std::int32_t>(*size)};
    try {
        PublishPackageRecord(server_, ServerConnectionString(settings), record);
    } catch (const EServerConnectError&) {
        throw ERefusal(InformationNotice("连接数据库失败"));
    } catch (const EServerAccessError&) {
        throw ERefusal(InformationNotice("访问数据库失败"));
    }
    return true;
}
