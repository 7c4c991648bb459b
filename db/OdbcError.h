// Database errors of the ODBC layer: the driver's own diagnostic text, in UTF-8.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>
#include <sql.h>

#include "Errors.h"

// A database call failed. The text is what the driver said (every diagnostic record, one per line); SqlState() is the
// five-character state of the first record, empty when the driver gave none.
class EDatabaseError : public Exception {
public:
    EDatabaseError(const std::string& text, std::string sqlState) : Exception(text), sqlState_(std::move(sqlState)) {}
    const std::string& SqlState() const { return sqlState_; }

private:
    std::string sqlState_;
};

namespace odbc {

inline bool Succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// Raises EDatabaseError with the diagnostics of `handle` unless `rc` reports success. `operation` names the call for
// the rare case where the driver left no diagnostic record.
void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, std::string_view operation);

}  // namespace odbc
