#include "Publication.h"

#include <cstdint>
#include <optional>

#include "Handles.h"
#include "Notice.h"
#include "Paths.h"
#include "ProgramLayout.h"
#include "UpdateServer.h"
#include "install/UpdateLog.h"

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

bool TPublication::Publish(const std::string& packagePath, const std::string& toVersion, const std::string& fromVersion,
                           UpdateLog& log)
{
    const ServerSettings settings = ReadServerSettings(programDirectory_ + std::string(layout::kServerSettings));
    // A driver may repeat what it was given in its answer, and whatever reaches the log reaches support.
    log.Conceal(settings.password);

    const std::string server = "the update server " + settings.server + ", database " + settings.database;
    const std::optional<std::uint64_t> size = PublishableFileSize(packagePath);
    if (!size) {
        log.Line("nothing published: no package file " + packagePath);
        return false;
    }
    if (*size > kLargestRegistrableSize) {
        throw ERefusal(ErrorNotice("升级包大小超过2GB，服务器无法登记：" + ExtractFileName(packagePath)));
    }

    const PackageRecord record{fromVersion, toVersion, ExtractFileName(packagePath), static_cast<std::int32_t>(*size)};
    try {
        PublishPackageRecord(server_, ServerConnectionString(settings), record);
    } catch (const EServerConnectError& error) {
        log.Line("cannot connect to " + server + ": " + error.what());
        throw ERefusal(InformationNotice("连接数据库失败"));
    } catch (const EServerAccessError& error) {
        log.Line(server + " refused the write: " + error.what());
        throw ERefusal(InformationNotice("访问数据库失败"));
    }
    log.Line("published on " + server + ": QS_UpdateFiles row (" + record.fromVersion + ", " + record.toVersion + ", " +
             ServerFileName(record.packageFileName) + ", " + std::to_string(record.fileSize) +
             "), QS_SysParams Version = " + record.toVersion);
    return true;
}
