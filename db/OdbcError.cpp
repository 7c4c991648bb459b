#include "OdbcError.h"

#include <algorithm>
#include <vector>

#include <sqlext.h>

#include "Text.h"

namespace odbc {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(wchar_t));

struct Diagnostics {
    std::string text;
    std::string sqlState;
};

Diagnostics ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle)
{
    Diagnostics result;
    if (handle == SQL_NULL_HANDLE) return result;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER nativeError = 0;
        std::vector<SQLWCHAR> message(512);
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(handleType, handle, record, state, &nativeError, message.data(),
                                      static_cast<SQLSMALLINT>(message.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
            message.resize(static_cast<size_t>(length) + 1);  // the text was cut: ask again with room for all of it
            rc = SQLGetDiagRecW(handleType, handle, record, state, &nativeError, message.data(),
                                static_cast<SQLSMALLINT>(message.size()), &length);
        }
        if (!Succeeded(rc)) break;
        const std::wstring_view text(reinterpret_cast<const wchar_t*>(message.data()),
                                     std::min<size_t>(static_cast<size_t>(length), message.size() - 1));
        std::string line = Narrow(text);
        line.erase(line.find_last_not_of(" \t\r\n") + 1);  // PostgreSQL's messages end with a line break
        if (!result.text.empty()) result.text += '\n';
        result.text += line;
        if (record == 1) result.sqlState = Narrow(reinterpret_cast<const wchar_t*>(state));
    }
    return result;
}

}  // namespace

void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, std::string_view operation)
{
    if (Succeeded(rc)) return;
    Diagnostics diagnostics = ReadDiagnostics(handleType, handle);
    if (diagnostics.text.empty())
        diagnostics.text = std::string(operation) + " failed (ODBC return code " + std::to_string(rc) + ")";
    throw EDatabaseError(diagnostics.text, diagnostics.sqlState);
}

}  // namespace odbc
