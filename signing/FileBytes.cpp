#include "FileBytes.h"

#include <windows.h>

#include "Handles.h"
#include "Paths.h"

namespace signing {

namespace {

constexpr std::string_view kCannotRead = "Cannot read";
constexpr std::string_view kCannotWrite = "Cannot write";

}  // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::size_t limit)
{
    const UniqueHandle file = OwnHandle(CreateFileW(ToApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw EFileOperationError(kCannotRead, path, GetLastError());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) throw EFileOperationError(kCannotRead, path, GetLastError());
    if (static_cast<unsigned long long>(size.QuadPart) > limit)
        throw EFileOperationError(kCannotRead, path, ERROR_FILE_TOO_LARGE);

    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr)) {
            throw EFileOperationError(kCannotRead, path, GetLastError());
        }
        if (read == 0) break;  // shorter than it said: what is there is what it holds
        done += read;
    }
    bytes.resize(done);
    return bytes;
}

void WriteFileBytes(const std::string& path, std::span<const std::uint8_t> bytes, Existing existing)
{
    const DWORD disposition = existing == Existing::Refuse ? CREATE_NEW : CREATE_ALWAYS;
    const UniqueHandle file = OwnHandle(
        CreateFileW(ToApiPath(path).c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw EFileOperationError(kCannotWrite, path, GetLastError());
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        throw EFileOperationError(kCannotWrite, path, GetLastError());
    }
    if (!FlushFileBuffers(file.get())) throw EFileOperationError(kCannotWrite, path, GetLastError());
}

}  // namespace signing
