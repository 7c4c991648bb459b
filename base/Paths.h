// Where the program lives and the few path facts every flow needs.
#pragma once

#include <string>
#include <vector>
#include <string_view>

// The running executable's full path (UTF-16: the title is made from it before anything else).
std::wstring ExecutablePath();

// The directory of the running executable, with its trailing backslash. Computed afresh on every call.
std::string ProgramDirectory();

// Each directory on the way to the last backslash of `path`, outermost first, each up to and including its
// backslash: "a\b\c" gives "a\" and "a\b\". Text after the last backslash is not a directory.
std::vector<std::string> DirectoryPrefixes(std::string_view path);

// The form the Windows API is handed: absolute local paths get the \\?\ prefix (UNC paths \\?\UNC\), so that
// paths longer than MAX_PATH work; anything else is returned unchanged.
std::wstring ToApiPath(std::string_view path);

bool FileExists(std::string_view path);  // a file, not a directory
bool DirectoryExists(std::string_view path);

// The text after the last backslash or colon: the file name of a path.
std::string ExtractFileName(std::string_view path);
