// Routines the updater shares with the rest of the suite: the local database and its version record.
#pragma once

#include <string>

// The ODBC connection string of the suite's local Access database, Data\Quellis.SDB under the program directory.
std::string GetLocalConnectionString();
// The same for the suite in programDirectory (ending in '\'), for a caller that has it at hand.
std::string GetLocalConnectionString(const std::string& programDirectory);

// Records `value` under `key` in the local database's SysParams table: every row of the key gets the value, or one
// row is inserted when there is none. Best effort by design: every error (missing database, wrong password, missing
// table, ...) is swallowed, nothing is shown, and the caller goes on as if the write had succeeded.
void WriteSysParam(const std::string& key, const std::string& value) noexcept;
// The same for the suite in programDirectory.
void WriteSysParam(const std::string& programDirectory, const std::string& key, const std::string& value) noexcept;

// The same on the database `connectionString` names; WriteSysParam passes GetLocalConnectionString().
void WriteSysParamTo(const std::string& connectionString, const std::string& key, const std::string& value) noexcept;
