// Helpers the native archive tests share: throwaway directories, files, and running Debian's zip and unzip.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "sample_data.hpp"
#include "zipcore/error.hpp"

namespace zipcore {

// How a failing test shows an error kind: by its name. Every test that compares kinds includes this header, so
// that gtest prints them the same way in each of them.
inline void PrintTo(ErrorKind kind, std::ostream* out)
{
    static const char* const names[] = {"Usage",       "NotFound", "NotZip",   "Corrupt",  "Unsafe",
                                        "Unsupported", "Io",       "DiskFull", "Cancelled"};
    *out << names[static_cast<int>(kind)];
}

}  // namespace zipcore

namespace ziptest {

namespace fs = std::filesystem;

// A directory of its own under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

void writeFile(const fs::path& path, const std::string& content);
std::string readFile(const fs::path& path);

// Every file and directory below `root`, as paths relative to it, sorted.
std::vector<std::string> treeOf(const fs::path& root);

struct CommandResult {
    int exitCode;
    std::string output;
};
// Runs a shell command line in the UTF-8 C locale, with standard error folded into the output.
CommandResult run(const std::string& commandLine);
std::string quote(const std::string& argument);

}  // namespace ziptest
