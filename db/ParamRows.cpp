#include "ParamRows.h"

#include "OdbcStatement.h"

static bool AnyRowWithKey(odbc::Connection& connection, std::string_view table, const std::string& key)
{
    // Its own statement, finished before the next one starts: SQL Server's driver allows one active result per
    // connection.
    odbc::Statement lookup(connection, "select count(*) from " + std::string(table) + " where ParamKey=?");
    lookup.Execute({key});
    return lookup.Fetch() && lookup.GetInteger(1).value_or(0) > 0;
}

void WriteParamRows(odbc::Connection& connection, std::string_view table, const std::string& key,
                    const std::string& value)
{
    const std::string name(table);
    if (AnyRowWithKey(connection, table, key))
        odbc::Statement(connection, "update " + name + " set ParamValue=? where ParamKey=?").Execute({value, key});
    else
        odbc::Statement(connection, "insert into " + name + "(ParamKey,ParamValue) values(?,?)").Execute({key, value});
}
