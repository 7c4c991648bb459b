// ODBC connection strings, built so that no value can change the string's structure.
#pragma once

#include <string>
#include <string_view>

// `{value}` with every `}` doubled: the form in which a value may hold `;`, `{`, `}` or `=`.
std::string BraceQuote(std::string_view value);

// Builds "Key=value;Key=value" attribute by attribute.
//   Driver     always braced, as the driver managers expect ("Driver={SQL Server}").
//   Secret     always braced: a password is never inspected, and `;` or `}` in it must stay part of it.
//   Add        braced only when the value holds `;`, `{` or `}`: PostgreSQL's driver removes braces only around a
//              password and would keep them as part of any other value, while every driver reads a plain value.
class ConnectionStringBuilder {
public:
    ConnectionStringBuilder& Driver(std::string_view name);
    ConnectionStringBuilder& Add(std::string_view key, std::string_view value);
    ConnectionStringBuilder& Secret(std::string_view key, std::string_view value);

    const std::string& Text() const { return text_; }

private:
    ConnectionStringBuilder& Append(std::string_view key, std::string_view formattedValue);

    std::string text_;
};
