// Registering a built package on the update server: one row for the package in QS_UpdateFiles and the server's
// current version in QS_SysParams. No user interface here: the caller turns the errors into its messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "OdbcConnection.h"
#include "OdbcError.h"

// Section `config` of config.ini. Driver and Port are ours: another ODBC driver than the one that ships with
// Windows, and a port for drivers that take it separately (PostgreSQL's in our tests).
struct ServerSettings {
    std::string server;
    std::string userName;
    std::string password;
    std::string database;
    std::string driver;  // "SQL Server" when the key is missing or empty
    std::string port;    // empty: the driver's default, and no Port= in the connection string
};

// Reads the settings with GetPrivateProfileStringW. A missing file or key is no error: the value is empty (the driver
// then "SQL Server"). Values are kept as written, `;`, `{`, `}` and `=` included.
ServerSettings ReadServerSettings(const std::string& iniPath);
// Key SigningKey of the same section, read the same way: the author's private key file, absolute or relative to
// the program directory; empty when packages go unsigned.
std::string ReadSigningKeySetting(const std::string& iniPath);

// Driver={<driver>};Server=...;Database=...;Uid=...;Pwd={...}[;Port=...], quoted by ConnectionStringBuilder.
std::string ServerConnectionString(const ServerSettings& settings);

// The row that describes a package on the server.
struct PackageRecord {
    std::string fromVersion;
    std::string toVersion;
    std::string packageFileName;  // the bare file name, e.g. Quellis1.0_1.1.sky
    std::int32_t fileSize;        // the column is 32-bit: the caller refuses a package of 2 GiB or more
};

// The name the server knows a package by: its file name in the server's update/ folder.
std::string ServerFileName(std::string_view packageFileName);

// The connection to the server could not be opened.
class EServerConnectError : public EDatabaseError {
public:
    explicit EServerConnectError(const EDatabaseError& cause) : EDatabaseError(cause) {}
};

// The package's row could not be deleted or inserted.
class EServerAccessError : public EDatabaseError {
public:
    explicit EServerAccessError(const EDatabaseError& cause) : EDatabaseError(cause) {}
};

// Closes `cnnServer`, opens it with `connectionString`, and in one transaction replaces the package's row in
// QS_UpdateFiles (delete by FileName, then insert FromVersion, ToVersion, FileName, FileSize) and sets every
// `Version` row of QS_SysParams to the to-version (one is inserted when there is none). Commits only when all of it
// succeeded; on any failure the transaction is rolled back, so the server holds all of it or none of it.
// Raises EServerConnectError, EServerAccessError, or EDatabaseError (version rows, transaction control, commit), each
// with the driver's text.
// The connection stays open afterwards.
void PublishPackageRecord(odbc::Connection& cnnServer, std::string_view connectionString, const PackageRecord& package);
