#include "UpdateServer.h"

#include <optional>
#include <vector>

#include <windows.h>

#include "ConnectionString.h"
#include "OdbcStatement.h"
#include "ParamRows.h"
#include "Text.h"

namespace {

std::string ReadIniValue(const std::wstring& path, const wchar_t* key)
{
    std::vector<wchar_t> buffer(256);
    for (;;) {
        const DWORD length = GetPrivateProfileStringW(L"config", key, L"", buffer.data(),
                                                      static_cast<DWORD>(buffer.size()), path.c_str());
        if (length < buffer.size() - 1) return Narrow(std::wstring_view(buffer.data(), length));
        buffer.resize(buffer.size() * 2);  // the value filled the buffer: it may have been cut
    }
}

}  // namespace

ServerSettings ReadServerSettings(const std::string& iniPath)
{
    const std::wstring path = Widen(iniPath);
    ServerSettings settings;
    settings.server = ReadIniValue(path, L"Server");
    settings.userName = ReadIniValue(path, L"UserName");
    settings.password = ReadIniValue(path, L"Password");
    settings.database = ReadIniValue(path, L"Database");
    settings.driver = ReadIniValue(path, L"Driver");
    if (settings.driver.empty()) settings.driver = "SQL Server";
    settings.port = ReadIniValue(path, L"Port");
    return settings;
}

std::string ReadSigningKeySetting(const std::string& iniPath)
{
    return ReadIniValue(Widen(iniPath), L"SigningKey");
}

std::string ServerConnectionString(const ServerSettings& settings)
{
    ConnectionStringBuilder builder;
    builder.Driver(settings.driver)
        .Add("Server", settings.server)
        .Add("Database", settings.database)
        .Add("Uid", settings.userName)
        .Secret("Pwd", settings.password);
    if (!settings.port.empty()) builder.Add("Port", settings.port);
    return builder.Text();
}

std::string ServerFileName(std::string_view packageFileName)
{
    return "update/" + std::string(packageFileName);
}

void PublishPackageRecord(odbc::Connection& cnnServer, std::string_view connectionString, const PackageRecord& package)
{
    try {
        cnnServer.Open(connectionString);  // closes the connection of an earlier publication first
    } catch (const EDatabaseError& error) {
        throw EServerConnectError(error);
    }

    std::optional<odbc::Transaction> transaction;  // rolls back unless committed below
    const std::string fileName = ServerFileName(package.packageFileName);
    try {
        // A server that refuses to begin the transaction fails this step like the writes it would hold.
        transaction.emplace(cnnServer);
        odbc::Statement(cnnServer, "delete from QS_UpdateFiles where FileName=?").Execute({fileName});
        odbc::Statement(cnnServer, "insert into QS_UpdateFiles(FromVersion,ToVersion,FileName,FileSize)values(?,?,?,?)")
            .Execute({package.fromVersion, package.toVersion, fileName, package.fileSize});
    } catch (const EDatabaseError& error) {
        throw EServerAccessError(error);
    }
    WriteParamRows(cnnServer, "QS_SysParams", "Version", package.toVersion);
    transaction->Commit();
}
