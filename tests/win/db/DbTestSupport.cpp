#include "DbTestSupport.h"

#include <stdexcept>

#include <windows.h>

#include "OdbcStatement.h"
#include "Text.h"

std::string EnvironmentVariable(const char* name)
{
    const std::wstring wideName = Widen(name);
    const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(wideName.c_str(), value.data(), size));
    return Narrow(value);
}

std::string HostPath(const std::filesystem::path& windowsPath)
{
    // Wine's own export: the one reliable mapping from a drive path to the host's file system.
    using ToUnix = char* (*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) throw std::runtime_error("these tests run under Wine only");
    char* unixPath = toUnix(windowsPath.wstring().c_str());
    if (unixPath == nullptr) throw std::runtime_error("no host path for " + Narrow(windowsPath.wstring()));
    std::string result(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

std::vector<Row> QueryRows(odbc::Connection& connection, const std::string& sql)
{
    odbc::Statement query(connection, sql);
    query.Execute();
    const int columns = query.ColumnCount();
    std::vector<Row> rows;
    while (query.Fetch()) {
        Row& row = rows.emplace_back();
        for (int column = 1; column <= columns; ++column)
            row.push_back(query.GetText(static_cast<SQLUSMALLINT>(column)));
    }
    return rows;
}

void Execute(odbc::Connection& connection, const std::string& sql)
{
    odbc::Statement(connection, sql).Execute();
}

ServerSettings TestServerLogin()
{
    ServerSettings login;
    login.driver = "SQL Server";
    login.server = EnvironmentVariable("TAVILO_PG_HOST");
    login.port = EnvironmentVariable("TAVILO_PG_PORT");
    login.userName = EnvironmentVariable("TAVILO_PG_USER");
    login.password = EnvironmentVariable("TAVILO_PG_PASSWORD");
    login.database = EnvironmentVariable("TAVILO_PG_DATABASE");
    if (login.server.empty() || login.port.empty() || login.userName.empty() || login.database.empty())
        throw std::runtime_error("TAVILO_PG_* are not set: run scripts/lib/postgres.sh start and source build/pg/env");
    return login;
}

static std::string SqlLiteral(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

ScratchSchema::ScratchSchema() : admin_(TestServerLogin()), settings_(admin_)
{
    static int counter = 0;
    settings_.userName = "tavilo_t" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount64()) +
                         "_" + std::to_string(++counter);
    settings_.password = "p;w}d{x'=1";
    odbc::Connection admin;
    admin.Open(ServerConnectionString(admin_));
    ::Execute(admin, "create role " + settings_.userName + " login password " + SqlLiteral(settings_.password));
    ::Execute(admin, "create schema authorization " + settings_.userName);
    connection_.Open(ServerConnectionString(settings_));
}

ScratchSchema::~ScratchSchema()
{
    connection_.Close();
    try {
        odbc::Connection admin;
        admin.Open(ServerConnectionString(admin_));
        ::Execute(admin, "drop schema " + settings_.userName + " cascade");
        ::Execute(admin, "drop role " + settings_.userName);
    } catch (const EDatabaseError&) {  // the cluster is thrown away at the end of the run anyway
    }
}
