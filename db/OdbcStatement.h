// A prepared statement with ? markers, executed with values bound in order, and its result rows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "OdbcConnection.h"

namespace odbc {

// A value for one ? marker: text (UTF-8, sent as a wide string) or a 32-bit integer.
using Parameter = std::variant<std::string, std::int32_t>;

// Owns its statement handle; it must not outlive its connection. Errors raise EDatabaseError with the driver's text.
class Statement {
public:
    Statement(Connection& connection, std::string_view sql);  // prepares `sql`

    // Executes with `parameters` bound to the markers in order and returns the number of rows affected (-1 when the
    // driver does not know, as for a query). An UPDATE or DELETE that matches no row succeeds and returns 0.
    std::int64_t Execute(const std::vector<Parameter>& parameters = {});

    // The number of columns of the result; 0 for a statement without one.
    int ColumnCount();
    // Moves to the next row of the result; false after the last one.
    bool Fetch();
    // A column of the current row (columns count from 1); nullopt for NULL.
    std::optional<std::string> GetText(SQLUSMALLINT column);
    std::optional<std::int64_t> GetInteger(SQLUSMALLINT column);

private:
    void Bind(const std::vector<Parameter>& parameters);

    UniqueHandle statement_;
    // The bound values: the driver reads them during SQLExecute, so they live as long as the binding.
    std::vector<std::wstring> texts_;
    std::vector<std::int32_t> integers_;
    std::vector<SQLLEN> lengths_;
};

}  // namespace odbc
