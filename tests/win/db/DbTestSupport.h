// What the database tests need around the code under test: scratch folders the host's ODBC drivers can reach, and
// a role and schema of their own on the test run's PostgreSQL server.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Driver.h"
#include "OdbcConnection.h"
#include "UpdateServer.h"

std::string EnvironmentVariable(const char* name);  // empty when not set

// The host path of a Windows path. The host's ODBC drivers (SQLite's) open files by host path, not by C:\ path.
std::string HostPath(const std::filesystem::path& windowsPath);

// A new empty folder under %TEMP%, removed with everything in it at the end.
using ScratchFolder = driver::TempDir;

using Row = std::vector<std::optional<std::string>>;

// Every row of `sql`, each column as text.
std::vector<Row> QueryRows(odbc::Connection& connection, const std::string& sql);
void Execute(odbc::Connection& connection, const std::string& sql);

// The login of the PostgreSQL server that scripts/test starts (TAVILO_PG_* variables). Raises when they are missing:
// a test run without the server is a broken run, not a reason to skip.
ServerSettings TestServerLogin();

// A role whose password holds `;`, `{` and `}`, with a schema of the same name that its unqualified table names
// resolve to: tests running side by side never see each other's tables. Dropped at the end.
class ScratchSchema {
public:
    ScratchSchema();
    ~ScratchSchema();

    // The role's settings, as config.ini would give them.
    const ServerSettings& Settings() const { return settings_; }
    // Runs statements and queries as the role, inside its schema.
    odbc::Connection& Connection() { return connection_; }
    void Execute(const std::string& sql) { ::Execute(connection_, sql); }
    std::vector<Row> Query(const std::string& sql) { return QueryRows(connection_, sql); }

private:
    ServerSettings admin_;
    ServerSettings settings_;
    odbc::Connection connection_;
};
