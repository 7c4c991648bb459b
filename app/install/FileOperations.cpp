#include "install/FileOperations.h"

#include <algorithm>

#include "Paths.h"
#include "Text.h"

namespace {

constexpr std::string_view kPartialCopySuffix = ".tavilo-copy";

// Deletes a file, clearing its read-only attribute first; the attribute goes back when the file stays.
DWORD RemoveFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileW(path.c_str())) return 0;
    const DWORD error = GetLastError();
    if (readOnly) SetFileAttributesW(path.c_str(), attributes);
    return error;
}

UniqueHandle OpenForReading(const std::string& path)
{
    return OwnHandle(CreateFileW(ToApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// Reads as much as fills the buffer or ends the file; false on a read error.
bool ReadFull(HANDLE file, std::vector<char>& buffer, DWORD& filled)
{
    filled = 0;
    while (filled < buffer.size()) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.data() + filled, static_cast<DWORD>(buffer.size()) - filled, &read, nullptr)) {
            return false;
        }
        if (read == 0) break;
        filled += read;
    }
    return true;
}

// A file copied to another volume: written beside its destination under a name of its own, on the disk and equal
// to the source before it takes the destination's name, and the source deleted last.
DWORD CopyAcrossVolumes(const std::string& from, const std::string& to)
{
    const std::wstring source = ToApiPath(from);
    const std::wstring destination = ToApiPath(to);
    const std::string partialName = FileOperations::PartialCopyName(to);
    const std::wstring partial = ToApiPath(partialName);

    // A copy that an earlier run did not finish is taken over.
    if (GetFileAttributesW(partial.c_str()) != INVALID_FILE_ATTRIBUTES) RemoveFile(partial);
    if (!CopyFileExW(source.c_str(), partial.c_str(), nullptr, nullptr, nullptr, COPY_FILE_FAIL_IF_EXISTS)) {
        return GetLastError();
    }
    // Writable for the flush; the source's attributes go back on once the copy has its name.
    const DWORD attributes = GetFileAttributesW(partial.c_str());
    DWORD error = 0;
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !SetFileAttributesW(partial.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
        error = GetLastError();
    } else {
        const UniqueHandle copy = OwnHandle(
            CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!copy || !FlushFileBuffers(copy.get())) error = GetLastError();
    }
    if (error == 0 && !SameBytes(from, partialName)) error = ERROR_CRC;
    if (error == 0 && !MoveFileExW(partial.c_str(), destination.c_str(), MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != 0) {
        RemoveFile(partial);
        return error;
    }
    // From here the whole file is under both names; a failure leaves it so, and undoing the move deletes the copy.
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !SetFileAttributesW(destination.c_str(), attributes)) {
        return GetLastError();
    }
    return RemoveFile(source);
}

}  // namespace

std::vector<FolderItem> ListFolder(const std::string& folder)
{
    std::vector<FolderItem> items;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(ToApiPath(folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return items;
        throw EFileOperationError("Cannot list", folder, error);
    }
    const UniqueFind owner(search);
    do {
        const std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") items.push_back({Narrow(name), found.dwFileAttributes});
    } while (FindNextFileW(search, &found));
    // Only the end of the listing ends it: a listing cut short by an error would pass for a folder with less in it.
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) throw EFileOperationError("Cannot list", folder, error);
    return items;
}

bool IsLink(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(ToApiPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool SameBytes(const std::string& a, const std::string& b)
{
    const UniqueHandle first = OpenForReading(a);
    const UniqueHandle second = OpenForReading(b);
    if (!first || !second) return false;
    std::vector<char> bufferA(1 << 16), bufferB(1 << 16);
    for (;;) {
        DWORD filledA = 0, filledB = 0;
        if (!ReadFull(first.get(), bufferA, filledA) || !ReadFull(second.get(), bufferB, filledB)) return false;
        if (filledA != filledB || !std::equal(bufferA.begin(), bufferA.begin() + filledA, bufferB.begin())) {
            return false;
        }
        if (filledA == 0) return true;
    }
}

unsigned long FileOperations::Before([[maybe_unused]] std::string_view operation,
                                     [[maybe_unused]] const std::string& path,
                                     [[maybe_unused]] const std::string& other)
{
#ifdef TAVILO_FAULT_INJECTION
    switch (faults_.Next(operation, path, other)) {
    case FaultPlan::Action::Kill:
        EndProcessHere();
    case FaultPlan::Action::Fail:
    case FaultPlan::Action::FailAfter:
        return FaultPlan::kInjectedError;
    case FaultPlan::Action::Proceed:
        break;
    }
#endif
    return 0;
}

void FileOperations::MakeDirectory(const std::string& path)
{
    DWORD error = Before("mkdir", path);
    if (error == 0 && !CreateDirectoryW(ToApiPath(path).c_str(), nullptr)) error = GetLastError();
    if (error != 0) throw EFileOperationError("Cannot create the directory", path, error);
}

bool FileOperations::RemoveEmptyDirectory(const std::string& path)
{
    DWORD error = Before("rmdir", path);
    if (error == 0 && !RemoveDirectoryW(ToApiPath(path).c_str())) error = GetLastError();
    if (error == ERROR_DIR_NOT_EMPTY) return false;
    if (error != 0) throw EFileOperationError("Cannot remove the directory", path, error);
    return true;
}

void FileOperations::Move(const std::string& from, const std::string& to)
{
    // No MOVEFILE_COPY_ALLOWED: its copy is written under the destination's own name, so that a copy cut half way
    // would leave part of a file where the whole one belongs.
    DWORD error = Before("move", from, to);
    if (error == 0 && !MoveFileExW(ToApiPath(from).c_str(), ToApiPath(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        if (error == ERROR_NOT_SAME_DEVICE && FileExists(from)) error = CopyAcrossVolumes(from, to);
    }
    if (error != 0) throw EFileOperationError("Cannot move", from, error);
}

std::string FileOperations::PartialCopyName(const std::string& to)
{
    return to + std::string(kPartialCopySuffix);
}

void FileOperations::DiscardPartialCopy(const std::string& to)
{
    const std::string partial = PartialCopyName(to);
    if (FileExists(partial)) Delete(partial);
}

void FileOperations::Delete(const std::string& path)
{
    DWORD error = Before("delete", path);
    if (error == 0) error = RemoveFile(ToApiPath(path));
    if (error != 0) throw EFileOperationError("Cannot delete", path, error);
}

void FileOperations::RemoveLink(const std::string& path)
{
    DWORD error = Before("unlink", path);
    if (error == 0) {
        // Deleted through a handle to the link itself, and only once the handle says that it is the link: a system
        // that opens what the link points to instead must not delete that.
        const UniqueHandle link =
            OwnHandle(CreateFileW(ToApiPath(path).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        FILE_ATTRIBUTE_TAG_INFO tag{};
        FILE_DISPOSITION_INFO disposition{TRUE};
        if (!link || !GetFileInformationByHandleEx(link.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
            error = GetLastError();
        } else if (!(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            error = kErrorLinkInTheWay;
        } else if (!SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
            error = GetLastError();
        }
    }
    if (error != 0) throw EFileOperationError("Cannot remove the link", path, error);
}

UniqueHandle FileOperations::CreateNew(const std::string& path)
{
    DWORD error = Before("create", path);
    UniqueHandle file;
    if (error == 0) {
        file = OwnHandle(CreateFileW(ToApiPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) error = GetLastError();
    }
    if (error != 0) throw EFileOperationError("Cannot create", path, error);
    return file;
}

UniqueHandle FileOperations::OpenAndTruncate(const std::string& path, unsigned long long length)
{
    DWORD error = Before("truncate", path);
    UniqueHandle file;
    if (error == 0) {
        file = OwnHandle(CreateFileW(ToApiPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(length);
        if (!file || !SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()) ||
            !FlushFileBuffers(file.get())) {
            error = GetLastError();
        }
    }
    if (error != 0) throw EFileOperationError("Cannot open", path, error);
    return file;
}

void FileOperations::WriteDurably(HANDLE file, const std::string& path, std::string_view bytes)
{
    DWORD error = 0;
#ifdef TAVILO_FAULT_INJECTION
    bool failAfterwards = false;
    switch (faults_.Next("write", path, {})) {
    case FaultPlan::Action::Kill: {
        // A write torn by a crash: half of the bytes reach the disk, the rest never do.
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size() / 2), &written, nullptr);
        FlushFileBuffers(file);
        EndProcessHere();
    }
    case FaultPlan::Action::Fail:
        error = FaultPlan::kInjectedError;
        break;
    case FaultPlan::Action::FailAfter:
        failAfterwards = true;
        break;
    case FaultPlan::Action::Proceed:
        break;
    }
#endif
    if (error == 0) {
        LARGE_INTEGER none{};
        DWORD written = 0;
        if (!SetFilePointerEx(file, none, nullptr, FILE_END) ||
            !WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
            error = GetLastError();
        } else if (written != bytes.size()) {
            error = ERROR_WRITE_FAULT;
        } else if (!FlushFileBuffers(file)) {
            error = GetLastError();
        }
    }
#ifdef TAVILO_FAULT_INJECTION
    if (error == 0 && failAfterwards) error = FaultPlan::kInjectedError;
#endif
    if (error != 0) throw EFileOperationError("Cannot write", path, error);
}

void FileOperations::CutBack(HANDLE file, const std::string& path, unsigned long long length)
{
    DWORD error = Before("truncate", path);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(length);
    if (error == 0 &&
        (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file) || !FlushFileBuffers(file))) {
        error = GetLastError();
    }
    if (error != 0) throw EFileOperationError("Cannot cut back", path, error);
}

void FileOperations::Flush(const std::string& path)
{
    DWORD error = Before("flush", path);
    if (error == 0) {
        const std::wstring name = ToApiPath(path);
        // A read-only file opens for writing only without the attribute, which goes back afterwards.
        const DWORD attributes = GetFileAttributesW(name.c_str());
        const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            (readOnly && !SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))) {
            error = GetLastError();
        } else {
            {
                const UniqueHandle opened = OwnHandle(CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                if (!opened || !FlushFileBuffers(opened.get())) error = GetLastError();
            }
            if (readOnly && !SetFileAttributesW(name.c_str(), attributes) && error == 0) error = GetLastError();
        }
    }
    if (error != 0) throw EFileOperationError("Cannot write to the disk", path, error);
}
