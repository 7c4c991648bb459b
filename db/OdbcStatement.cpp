#include "OdbcStatement.h"

#include <algorithm>

#include <sqlext.h>

#include "OdbcError.h"
#include "Text.h"

namespace odbc {

namespace {

// Text longer than this goes as a long type: SQL Server's drivers refuse a longer nvarchar parameter.
constexpr size_t LongestShortText = 4000;

SQLWCHAR* AsSqlText(wchar_t* text)
{
    return reinterpret_cast<SQLWCHAR*>(text);
}

}  // namespace

Statement::Statement(Connection& connection, std::string_view sql)
    : statement_(AllocateHandle(SQL_HANDLE_STMT, SQL_HANDLE_DBC, connection.Handle()))
{
    std::wstring text = Widen(sql);
    Check(SQLPrepareW(statement_.get(), AsSqlText(text.data()), SQL_NTS), SQL_HANDLE_STMT, statement_.get(),
          "SQLPrepareW");
}

std::int64_t Statement::Execute(const std::vector<Parameter>& parameters)
{
    SQLFreeStmt(statement_.get(), SQL_CLOSE);  // the result of an earlier execution, if any
    Bind(parameters);
    const SQLRETURN rc = SQLExecute(statement_.get());
    if (rc == SQL_NO_DATA) return 0;
    Check(rc, SQL_HANDLE_STMT, statement_.get(), "SQLExecute");
    SQLLEN rows = -1;
    if (!Succeeded(SQLRowCount(statement_.get(), &rows))) rows = -1;
    return rows;
}

void Statement::Bind(const std::vector<Parameter>& parameters)
{
    Check(SQLFreeStmt(statement_.get(), SQL_RESET_PARAMS), SQL_HANDLE_STMT, statement_.get(), "SQLFreeStmt");
    texts_.clear();
    integers_.clear();
    lengths_.clear();
    // Reserved up front: the driver keeps pointers into these vectors, so they must never reallocate.
    texts_.reserve(parameters.size());
    integers_.reserve(parameters.size());
    lengths_.reserve(parameters.size());

    SQLUSMALLINT number = 0;
    for (const Parameter& parameter : parameters) {
        ++number;
        SQLRETURN rc;
        if (const auto* text = std::get_if<std::string>(&parameter)) {
            std::wstring& buffer = texts_.emplace_back(Widen(*text));
            const SQLLEN bytes = static_cast<SQLLEN>(buffer.size() * sizeof(wchar_t));
            SQLLEN& length = lengths_.emplace_back(bytes);
            // A column size of 0 is refused by some drivers, even for an empty text.
            const SQLULEN columnSize = std::max<size_t>(buffer.size(), 1);
            const SQLSMALLINT type = buffer.size() > LongestShortText ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
            rc = SQLBindParameter(statement_.get(), number, SQL_PARAM_INPUT, SQL_C_WCHAR, type, columnSize, 0,
                                  AsSqlText(buffer.data()), bytes, &length);
        } else {
            std::int32_t& value = integers_.emplace_back(std::get<std::int32_t>(parameter));
            SQLLEN& length = lengths_.emplace_back(0);
            rc = SQLBindParameter(statement_.get(), number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &value, 0,
                                  &length);
        }
        Check(rc, SQL_HANDLE_STMT, statement_.get(), "SQLBindParameter");
    }
}

int Statement::ColumnCount()
{
    SQLSMALLINT columns = 0;
    Check(SQLNumResultCols(statement_.get(), &columns), SQL_HANDLE_STMT, statement_.get(), "SQLNumResultCols");
    return columns;
}

bool Statement::Fetch()
{
    const SQLRETURN rc = SQLFetch(statement_.get());
    if (rc == SQL_NO_DATA) return false;
    Check(rc, SQL_HANDLE_STMT, statement_.get(), "SQLFetch");
    return true;
}

std::optional<std::string> Statement::GetText(SQLUSMALLINT column)
{
    std::wstring text;
    std::vector<wchar_t> buffer(256);
    // A long text comes in parts: each call returns what fits and reports the rest as truncated.
    for (;;) {
        SQLLEN length = 0;
        const SQLRETURN rc = SQLGetData(statement_.get(), column, SQL_C_WCHAR, buffer.data(),
                                        static_cast<SQLLEN>(buffer.size() * sizeof(wchar_t)), &length);
        if (rc == SQL_NO_DATA) break;
        Check(rc, SQL_HANDLE_STMT, statement_.get(), "SQLGetData");
        if (length == SQL_NULL_DATA) return std::nullopt;
        const size_t room = buffer.size() - 1;  // the driver ends every part with a terminating zero
        const size_t part =
            length == SQL_NO_TOTAL ? room : std::min(static_cast<size_t>(length) / sizeof(wchar_t), room);
        text.append(buffer.data(), part);
        if (rc == SQL_SUCCESS) break;
    }
    return Narrow(text);
}

std::optional<std::int64_t> Statement::GetInteger(SQLUSMALLINT column)
{
    std::int64_t value = 0;
    SQLLEN length = 0;
    Check(SQLGetData(statement_.get(), column, SQL_C_SBIGINT, &value, sizeof value, &length), SQL_HANDLE_STMT,
          statement_.get(), "SQLGetData");
    if (length == SQL_NULL_DATA) return std::nullopt;
    return value;
}

}  // namespace odbc
