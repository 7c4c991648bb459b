// Key–value parameter tables (ParamKey, ParamValue), as the suite keeps them locally and on the update server.
#pragma once

#include <string>
#include <string_view>

#include "OdbcConnection.h"

// Gives every row of `table` whose ParamKey is `key` the value `value`, or inserts one row (ParamKey, ParamValue)
// when there is none; other columns and other keys are left alone. Key and value travel as parameters, so any text
// is stored as it is. `table` is one of our fixed table names, never outside input. Raises EDatabaseError.
void WriteParamRows(odbc::Connection& connection, std::string_view table, const std::string& key,
                    const std::string& value);
