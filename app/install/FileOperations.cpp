#include "install/FileOperations.h"

#include "Paths.h"

FileOperationError::FileOperationError(std::string_view operation, std::string path, unsigned long code)
    : Exception(std::string(operation) + " \"" + path + "\": system error " + std::to_string(code)),
      path_(std::move(path)),
      code_(code)
{
}

unsigned long FileOperations::Before([[maybe_unused]] std::string_view operation,
                                     [[maybe_unused]] const std::string& path,
                                     [[maybe_unused]] const std::string& other)
{
#ifdef TAVILO_FAULT_INJECTION
    switch (faults_.Next(operation, path, other)) {
    case FaultPlan::Action::Kill: EndProcessHere();
    case FaultPlan::Action::Fail: return FaultPlan::kInjectedError;
    case FaultPlan::Action::Proceed: break;
    }
#endif
    return 0;
}

void FileOperations::MakeDirectory(const std::string& path)
{
    DWORD error = Before("mkdir", path);
    if (error == 0 && !CreateDirectoryW(ToApiPath(path).c_str(), nullptr)) error = GetLastError();
    if (error != 0) throw FileOperationError("Cannot create the directory", path, error);
}

bool FileOperations::RemoveEmptyDirectory(const std::string& path)
{
    DWORD error = Before("rmdir", path);
    if (error == 0 && !RemoveDirectoryW(ToApiPath(path).c_str())) error = GetLastError();
    if (error == ERROR_DIR_NOT_EMPTY) return false;
    if (error != 0) throw FileOperationError("Cannot remove the directory", path, error);
    return true;
}

void FileOperations::Move(const std::string& from, const std::string& to)
{
    // No MOVEFILE_COPY_ALLOWED: a copy across volumes could be cut half way, and then neither name would be
    // sure to hold the whole file.
    DWORD error = Before("move", from, to);
    if (error == 0 && !MoveFileExW(ToApiPath(from).c_str(), ToApiPath(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != 0) throw FileOperationError("Cannot move", from, error);
}

void FileOperations::Delete(const std::string& path)
{
    DWORD error = Before("delete", path);
    if (error == 0 && !DeleteFileW(ToApiPath(path).c_str())) error = GetLastError();
    if (error != 0) throw FileOperationError("Cannot delete", path, error);
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
    if (error != 0) throw FileOperationError("Cannot create", path, error);
    return file;
}

UniqueHandle FileOperations::OpenAndTruncate(const std::string& path, unsigned long long length)
{
    DWORD error = Before("truncate", path);
    UniqueHandle file;
    if (error == 0) {
        file = OwnHandle(CreateFileW(ToApiPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(length);
        if (!file || !SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()) ||
            !FlushFileBuffers(file.get())) {
            error = GetLastError();
        }
    }
    if (error != 0) throw FileOperationError("Cannot open", path, error);
    return file;
}

void FileOperations::WriteDurably(HANDLE file, const std::string& path, std::string_view bytes)
{
    DWORD error = 0;
#ifdef TAVILO_FAULT_INJECTION
    switch (faults_.Next("write", path, {})) {
    case FaultPlan::Action::Kill: {
        // A write torn by a crash: half of the bytes reach the disk, the rest never do.
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size() / 2), &written, nullptr);
        FlushFileBuffers(file);
        EndProcessHere();
    }
    case FaultPlan::Action::Fail: error = FaultPlan::kInjectedError; break;
    case FaultPlan::Action::Proceed: break;
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
    if (error != 0) throw FileOperationError("Cannot write", path, error);
}
