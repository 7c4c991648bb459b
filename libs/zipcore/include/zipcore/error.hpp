// The one exception type of the archive core. Every failure carries a UTF-8 text meant for a person and a kind
// that callers (the archive libraries, the command-line tool) map to their own return codes.
#pragma once

#include <stdexcept>
#include <string>

namespace zipcore {

enum class ErrorKind {
    Usage,        // the caller asked for something impossible (no files, an unusable name, ...)
    NotFound,     // the archive or a file to pack does not exist
    NotZip,       // the file is not a ZIP archive at all
    Corrupt,      // the archive is damaged or inconsistent (bad CRC, sizes, overlapping entries, truncated)
    Unsafe,       // an entry would land outside the target or on a device; refused on purpose
    Unsupported,  // encryption, an unknown compression method, several volumes
    Io,           // the operating system refused to read, write, create or rename
    DiskFull,     // not enough room on the target volume
    Cancelled,    // a progress callback asked to stop
};

class Error : public std::runtime_error {
public:
    Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    ErrorKind kind() const noexcept { return kind_; }

private:
    ErrorKind kind_;
};

}  // namespace zipcore
