#include "Common.h"

#include "ConnectionString.h"
#include "OdbcConnection.h"
#include "ParamRows.h"
#include "Paths.h"
#include "ProgramLayout.h"

#ifdef TAVILO_FAULT_INJECTION
#include <windows.h>

#include "Text.h"

namespace {

// The test build only (UpdateWithFaults.exe): under Wine neither the Access driver nor a drive path reaches a
// database, so the install tests name a SQLite database of their own for the version record here.
std::string ConnectionStringOfTheTests()
{
    const wchar_t* name = L"TAVILO_LOCAL_DATABASE";
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), size));
    return Narrow(value);
}

}  // namespace
#endif

std::string GetLocalConnectionString()
{
    return GetLocalConnectionString(ProgramDirectory());
}

std::string GetLocalConnectionString(const std::string& programDirectory)
{
#ifdef TAVILO_FAULT_INJECTION
    if (std::string redirected = ConnectionStringOfTheTests(); !redirected.empty()) return redirected;
#endif
    return ConnectionStringBuilder()
        .Driver("Microsoft Access Driver (*.mdb)")
        .Add("Dbq", programDirectory + std::string(layout::kLocalDatabase))
        .Add("Uid", "Admin")
        .Secret("Pwd", "lanterns4821")
        .Text();
}

void WriteSysParam(const std::string& key, const std::string& value) noexcept
{
    try {
        WriteSysParam(ProgramDirectory(), key, value);
    } catch (...) {  // only running out of memory for the program directory can land here
    }
}

void WriteSysParam(const std::string& programDirectory, const std::string& key, const std::string& value) noexcept
{
    try {
        WriteSysParamTo(GetLocalConnectionString(programDirectory), key, value);
    } catch (...) {  // only running out of memory for the connection string can land here
    }
}

void WriteSysParamTo(const std::string& connectionString, const std::string& key, const std::string& value) noexcept
{
    // The install has already succeeded when this runs; a version record that cannot be written must not turn it
    // into a failure. The connection and its statements are released on every path by their owners.
    try {
        odbc::Connection connection;
        connection.Open(connectionString);
        WriteParamRows(connection, "SysParams", key, value);
    } catch (...) {
    }
}
