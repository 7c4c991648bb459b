// The file-system layer over the POSIX API, for the native builds (tool, tests, fuzzing, benchmarks).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>

#include "zipcore/error.hpp"
#include "zipcore/file_system.hpp"

namespace zipcore {
namespace {

[[noreturn]] void throwSystemError(const std::string& what, const std::string& path, int code = errno) {
    const ErrorKind kind = code == ENOENT                     ? ErrorKind::NotFound
                           : code == ENOSPC || code == EDQUOT ? ErrorKind::DiskFull
                                                              : ErrorKind::Io;
    throw Error(kind, what + " " + path + ": " + std::system_category().message(code));
}

DosDateTime toDosDateTime(std::time_t seconds) {
    std::tm local{};
    if (!localtime_r(&seconds, &local) || local.tm_year < 80) return {};
    if (local.tm_year > 207)
        local = std::tm{.tm_sec = 58, .tm_min = 59, .tm_hour = 23, .tm_mday = 31, .tm_mon = 11, .tm_year = 207};
    DosDateTime result;
    result.date = static_cast<std::uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    result.time = static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    return result;
}

std::time_t fromDosDateTime(DosDateTime value) {
    std::tm local{};
    local.tm_year = ((value.date >> 9) & 0x7F) + 80;
    local.tm_mon = ((value.date >> 5) & 0x0F) - 1;
    local.tm_mday = value.date & 0x1F;
    local.tm_hour = (value.time >> 11) & 0x1F;
    local.tm_min = (value.time >> 5) & 0x3F;
    local.tm_sec = (value.time & 0x1F) * 2;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

}  // namespace

File File::openForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throwSystemError("cannot open", path);
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(fd);
        throw Error(ErrorKind::Usage, path + " is a directory, not a file");
    }
    return File(fd, path);
}

File File::createNew(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) throwSystemError("cannot create", path);
    return File(fd, path);
}

File::File(File&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        release();
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        other.handle_ = -1;
    }
    return *this;
}

File::~File() { release(); }

void File::release() noexcept {
    if (handle_ >= 0) ::close(handle_);
    handle_ = -1;
}

std::uint64_t File::size() const {
    struct stat status {};
    if (::fstat(handle_, &status) != 0) throwSystemError("cannot read the size of", path_);
    return static_cast<std::uint64_t>(status.st_size);
}

std::size_t File::readAt(std::uint64_t offset, void* buffer, std::size_t length) const {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got =
            ::pread(handle_, static_cast<char*>(buffer) + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            throwSystemError("cannot read", path_);
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void File::writeAt(std::uint64_t offset, const void* data, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t put =
            ::pwrite(handle_, static_cast<const char*>(data) + done, length - done, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR) continue;
            throwSystemError("cannot write", path_);
        }
        done += static_cast<std::size_t>(put);
    }
}

void File::truncate(std::uint64_t length) {
    if (::ftruncate(handle_, static_cast<off_t>(length)) != 0) throwSystemError("cannot truncate", path_);
}

void File::setModified(DosDateTime modified) {
    const std::time_t seconds = fromDosDateTime(modified);
    if (seconds == static_cast<std::time_t>(-1)) return;
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    if (::futimens(handle_, times) != 0) throwSystemError("cannot set the time of", path_);
}

void File::close() {
    if (handle_ < 0) return;
    const int fd = handle_;
    handle_ = -1;
    if (::close(fd) != 0 && errno != EINTR) throwSystemError("cannot close", path_);
}

FileInfo fileInfo(const std::string& path) {
    struct stat status {};
    FileInfo info;
    if (::stat(path.c_str(), &status) != 0) return info;
    info.exists = true;
    info.isDirectory = S_ISDIR(status.st_mode);
    info.isRegularFile = S_ISREG(status.st_mode);
    info.size = static_cast<std::uint64_t>(status.st_size);
    info.modified = toDosDateTime(status.st_mtime);
    return info;
}

void createDirectories(const std::string& path) {
    if (path.empty() || fileInfo(path).isDirectory) return;
    const std::string parent = directoryOf(path);
    if (parent != path && parent != ".") createDirectories(parent);
    if (::mkdir(path.c_str(), 0777) != 0 && !(errno == EEXIST && fileInfo(path).isDirectory))
        throwSystemError("cannot create the directory", path);
}

void replaceFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) throwSystemError("cannot replace", to);
}

void removeFile(const std::string& path) noexcept { ::unlink(path.c_str()); }

std::uint64_t freeSpace(const std::string& directory) {
    struct statvfs volume {};
    if (::statvfs(directory.c_str(), &volume) != 0) throwSystemError("cannot query the free space of", directory);
    return static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize;
}

}  // namespace zipcore
