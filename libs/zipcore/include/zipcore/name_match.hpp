// How the archive core compares file names: as Windows does on NTFS, for the names it checks before extracting,
// the names it stores, and the include and exclude patterns of the extraction library. One rule, so that the
// program and the libraries never disagree on whether two names are one file.
#pragma once

#include <string>
#include <string_view>

namespace zipcore {

// The form under which NTFS looks a name up: every character of the Basic Multilingual Plane that has a
// one-character upper case forming a case pair with it (Unicode 15.0) replaced by that upper case, as Windows's
// upcase table does. So 'é' and 'É', 'я' and 'Я' are one file, while 'ß' (no one-character upper case), the
// dotless 'ı', the final 'ς' and the micro sign (whose upper cases lower-case to other letters) stay as they are;
// characters beyond that plane, and bytes that are not UTF-8, stay as they are too. Nothing is normalised. Two
// names are one file exactly when their keys are equal. UTF-8 in, UTF-8 out.
std::string fileNameKey(std::string_view name);

// Whether two UTF-8 names would be one file on Windows (the rule of CompareStringOrdinal ignoring case).
bool sameFileName(std::string_view a, std::string_view b);

// Include and exclude patterns: '*' matches any run of characters, '?' one character. Case-insensitive matching
// compares by fileNameKey.
bool matchesPattern(std::string_view name, std::string_view pattern, bool caseInsensitive);

}  // namespace zipcore
