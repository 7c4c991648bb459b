// The few file-system services the archive core needs, over the POSIX API natively and the Windows W API
// in the Windows builds. Paths are UTF-8 everywhere; the Windows side converts them at the system call.
#pragma once

#include <cstdint>
#include <string>

#include "zipcore/byte_stream.hpp"

namespace zipcore {

// A time as ZIP stores it: local time, two-second steps, 1980 to 2107.
struct DosDateTime {
    std::uint16_t date = (1 << 5) | 1;  // 1980-01-01
    std::uint16_t time = 0;
    bool operator==(const DosDateTime&) const = default;
};

struct FileInfo {
    bool exists = false;
    bool isDirectory = false;
    bool isRegularFile = false;
    std::uint64_t size = 0;
    DosDateTime modified;
};

class File final : public ByteSource {
public:
#ifdef _WIN32
    using NativeHandle = void*;
#else
    using NativeHandle = int;
#endif

    static File openForReading(const std::string& path);
    // Creates a file that must not exist yet, for reading and writing.
    static File createNew(const std::string& path);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() override;

    std::uint64_t size() const override;
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t length) const override;
    void writeAt(std::uint64_t offset, const void* data, std::size_t length);
    void truncate(std::uint64_t length);
    void setModified(DosDateTime modified);
    // Closes now and reports a failure; the destructor closes silently.
    void close();
    const std::string& path() const { return path_; }

private:
    File(NativeHandle handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    void release() noexcept;

    NativeHandle handle_;
    std::string path_;
};

FileInfo fileInfo(const std::string& path);
void createDirectories(const std::string& path);
// Renames `from` over `to`, replacing a file that is there.
void replaceFile(const std::string& from, const std::string& to);
void removeFile(const std::string& path) noexcept;
std::uint64_t freeSpace(const std::string& directory);

std::string joinPath(const std::string& directory, const std::string& name);
// The directory part of a path ("." when there is none) and the last component.
std::string directoryOf(const std::string& path);
std::string lastPathComponent(const std::string& path);

// A file with a unique name in a given directory that disappears again unless it is committed under its
// final name. Whatever fails on the way, no half-written file stays behind under either name.
class TempFile {
public:
    explicit TempFile(const std::string& directory);
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile();

    File& file() { return file_; }
    const std::string& path() const { return file_.path(); }
    // Closes the file and renames it over `finalPath`.
    void commitAs(const std::string& finalPath);

private:
    File file_;
    bool committed_ = false;
};

}  // namespace zipcore
