// The file-system layer over the Windows W API. Every path is converted from UTF-8 to UTF-16 here, made full,
// and given the long form when it needs it.
#include <windows.h>

#include <algorithm>
#include <string>

#include "zipcore/error.hpp"
#include "zipcore/file_system.hpp"
#include "zipcore/long_path.hpp"
#include "zipcore/text.hpp"

namespace zipcore {
namespace {

std::string systemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length > 0 ? std::wstring(text, length) : L"error " + std::to_wstring(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return toUtf8(message);
}

[[noreturn]] void throwSystemError(const std::string& what, const std::string& path, DWORD code = GetLastError()) {
    const ErrorKind kind = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ErrorKind::NotFound
                           : code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL  ? ErrorKind::DiskFull
                                                                                        : ErrorKind::Io;
    throw Error(kind, what + " " + path + ": " + systemMessage(code));
}

// The UTF-16 path to hand to the W API: full, and in the long form when it is long.
std::wstring systemPath(const std::string& path) {
    const std::wstring wide = toUtf16(path);
    if (wide.starts_with(L"\\\\?\\")) return wide;
    const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) throwSystemError("cannot resolve the path", path);
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    full.resize(written);
    return extendedLengthPath(full);
}

ULARGE_INTEGER toLarge(std::uint64_t value) {
    ULARGE_INTEGER large;
    large.QuadPart = value;
    return large;
}

OVERLAPPED overlappedAt(std::uint64_t offset) {
    OVERLAPPED overlapped{};
    const ULARGE_INTEGER large = toLarge(offset);
    overlapped.Offset = large.LowPart;
    overlapped.OffsetHigh = large.HighPart;
    return overlapped;
}

DosDateTime toDosDateTime(const FILETIME& utc) {
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time)) return {};
    return {date, time};
}

constexpr DWORD kChunk = 1u << 30;  // ReadFile and WriteFile take 32-bit lengths

}  // namespace

File File::openForReading(const std::string& path) {
    const HANDLE handle = CreateFileW(systemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_ACCESS_DENIED && fileInfo(path).isDirectory)
            throw Error(ErrorKind::Usage, path + " is a directory, not a file");
        throwSystemError("cannot open", path, code);
    }
    return File(handle, path);
}

File File::createNew(const std::string& path) {
    const HANDLE handle = CreateFileW(systemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throwSystemError("cannot create", path);
    return File(handle, path);
}

File::File(File&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) {
    other.handle_ = INVALID_HANDLE_VALUE;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        release();
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        other.handle_ = INVALID_HANDLE_VALUE;
    }
    return *this;
}

File::~File() { release(); }

void File::release() noexcept {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

std::uint64_t File::size() const {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_, &size)) throwSystemError("cannot read the size of", path_);
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t File::readAt(std::uint64_t offset, void* buffer, std::size_t length) const {
    std::size_t done = 0;
    while (done < length) {
        OVERLAPPED at = overlappedAt(offset + done);
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(length - done, kChunk));
        if (!ReadFile(handle_, static_cast<char*>(buffer) + done, wanted, &got, &at)) {
            const DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF) break;
            throwSystemError("cannot read", path_, code);
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

void File::writeAt(std::uint64_t offset, const void* data, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        OVERLAPPED at = overlappedAt(offset + done);
        DWORD put = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(length - done, kChunk));
        if (!WriteFile(handle_, static_cast<const char*>(data) + done, wanted, &put, &at))
            throwSystemError("cannot write", path_);
        done += put;
    }
}

void File::truncate(std::uint64_t length) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    if (!SetFileInformationByHandle(handle_, FileEndOfFileInfo, &end, sizeof end))
        throwSystemError("cannot truncate", path_);
}

void File::setModified(DosDateTime modified) {
    FILETIME local, utc;
    if (!DosDateTimeToFileTime(modified.date, modified.time, &local) || !LocalFileTimeToFileTime(&local, &utc)) return;
    if (!SetFileTime(handle_, nullptr, nullptr, &utc)) throwSystemError("cannot set the time of", path_);
}

void File::close() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(handle)) throwSystemError("cannot close", path_);
}

FileInfo fileInfo(const std::string& path) {
    FileInfo info;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(systemPath(path).c_str(), GetFileExInfoStandard, &data)) return info;
    info.exists = true;
    info.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.isRegularFile = !info.isDirectory && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    ULARGE_INTEGER size;
    size.LowPart = data.nFileSizeLow;
    size.HighPart = data.nFileSizeHigh;
    info.size = size.QuadPart;
    info.modified = toDosDateTime(data.ftLastWriteTime);
    return info;
}

void createDirectories(const std::string& path) {
    if (path.empty() || fileInfo(path).isDirectory) return;
    const std::string parent = directoryOf(path);
    if (parent != path && parent != ".") createDirectories(parent);
    if (!CreateDirectoryW(systemPath(path).c_str(), nullptr)) {
        const DWORD code = GetLastError();
        if (!(code == ERROR_ALREADY_EXISTS && fileInfo(path).isDirectory))
            throwSystemError("cannot create the directory", path, code);
    }
}

void replaceFile(const std::string& from, const std::string& to) {
    const std::wstring source = systemPath(from);
    const std::wstring target = systemPath(to);
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return;
    const DWORD code = GetLastError();
    // A read-only file is replaced too, as the updater replaces whatever stands in the way of a new version.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) &&
        MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return;
    throwSystemError("cannot replace", to, code);
}

void removeFile(const std::string& path) noexcept {
    try {
        DeleteFileW(systemPath(path).c_str());
    } catch (...) {
        // Nothing to remove under a name that cannot even be converted.
    }
}

std::uint64_t freeSpace(const std::string& directory) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(systemPath(directory).c_str(), &available, nullptr, nullptr))
        throwSystemError("cannot query the free space of", directory);
    return available.QuadPart;
}

}  // namespace zipcore
