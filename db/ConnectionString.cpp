#include "ConnectionString.h"

std::string BraceQuote(std::string_view value)
{
    std::string quoted = "{";
    for (char c : value) {
        quoted += c;
        if (c == '}') quoted += '}';
    }
    return quoted + "}";
}

ConnectionStringBuilder& ConnectionStringBuilder::Driver(std::string_view name)
{
    return Append("Driver", BraceQuote(name));
}

ConnectionStringBuilder& ConnectionStringBuilder::Add(std::string_view key, std::string_view value)
{
    const bool needsBraces = value.find_first_of(";{}") != std::string_view::npos;
    return Append(key, needsBraces ? BraceQuote(value) : std::string(value));
}

ConnectionStringBuilder& ConnectionStringBuilder::Secret(std::string_view key, std::string_view value)
{
    return Append(key, BraceQuote(value));
}

ConnectionStringBuilder& ConnectionStringBuilder::Append(std::string_view key, std::string_view formattedValue)
{
    if (!text_.empty()) text_ += ';';
    text_.append(key).append("=").append(formattedValue);
    return *this;
}
