// Include and exclude patterns of the extraction library: '*' matches any run of characters, '?' one character.
#pragma once

#include <string_view>

namespace zipcore {

// Case-insensitive matching folds ASCII letters; the file systems we extract to compare names that way too.
bool matchesPattern(std::string_view name, std::string_view pattern, bool caseInsensitive);

}  // namespace zipcore
