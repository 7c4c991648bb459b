// Where the program lives and the few path facts every flow needs.
#pragma once

#include <string>
#include <string_view>

// The directory of the running executable, with its trailing backslash. Computed afresh on every call.
std::string ProgramDirectory();

// The form the Windows API is handed: absolute local paths get the \\?\ prefix (UNC paths \\?\UNC\), so that
// paths longer than MAX_PATH work; anything else is returned unchanged.
std::wstring ToApiPath(std::string_view path);

bool FileExists(std::string_view path);       // a file, not a directory
bool DirectoryExists(std::string_view path);

// The text after the last backslash or colon: the file name of a path.
std::string ExtractFileName(std::string_view path);
