// The file-system operations that change the program directory during an install, in one place: every path is
// handed to Windows through ToApiPath (so that long paths work), every failure raises FileOperationError with the
// system's error number, and the test build of the program can stop or fail the install at any one of them.
#pragma once

#include <string>
#include <string_view>
#include <windows.h>

#include "Errors.h"
#include "Handles.h"

#ifdef TAVILO_FAULT_INJECTION
#include "install/FaultPlan.h"
#endif

// One operation failed. The path is the one the operation was about (for a move, its source).
class FileOperationError : public Exception {
public:
    FileOperationError(std::string_view operation, std::string path, unsigned long code);
    const std::string& Path() const { return path_; }
    unsigned long Code() const { return code_; }

private:
    std::string path_;
    unsigned long code_;
};

class FileOperations {
public:
    FileOperations() = default;
    FileOperations(const FileOperations&) = delete;
    FileOperations& operator=(const FileOperations&) = delete;

    void MakeDirectory(const std::string& path);
    // Removes an empty directory. A directory that still holds something is left alone: false.
    bool RemoveEmptyDirectory(const std::string& path);
    // Renames a file or directory to a name that must not exist yet, on the same volume: either the whole move
    // happens or none of it does, whatever interrupts it.
    void Move(const std::string& from, const std::string& to);
    void Delete(const std::string& path);

    // A new file opened for writing; an existing one is an error.
    UniqueHandle CreateNew(const std::string& path);
    // An existing file opened for writing at its end, cut back to `length` bytes first.
    UniqueHandle OpenAndTruncate(const std::string& path, unsigned long long length);
    // Writes at the file's end and waits until the bytes are on the disk.
    void WriteDurably(HANDLE file, const std::string& path, std::string_view bytes);

private:
    // Every operation passes here first. Release builds do nothing; the test build counts the operation and may
    // end the process or make the operation fail (its system error number is returned, 0 to go on).
    unsigned long Before(std::string_view operation, const std::string& path, const std::string& other = {});

#ifdef TAVILO_FAULT_INJECTION
    [[noreturn]] static void EndProcessHere() { ExitProcess(FaultPlan::kKilledExitCode); }
    FaultPlan faults_ = FaultPlan::FromCommandLine();
#endif
};
