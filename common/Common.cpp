#include "Common.h"

#include "ConnectionString.h"
#include "OdbcConnection.h"
#include "ParamRows.h"
#include "Paths.h"
#include "ProgramLayout.h"

std::string GetLocalConnectionString()
{
    return GetLocalConnectionString(ProgramDirectory());
}

std::string GetLocalConnectionString(const std::string& programDirectory)
{
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
