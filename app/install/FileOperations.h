// The file-system operations that change the program directory during an install, in one place: every path is
// handed to Windows through ToApiPath (so that long paths work), every failure raises EFileOperationError with the
// system's error number, and the test build of the program can stop or fail the install at any one of them.
// Beside them, the few questions the install asks of the file system before it changes anything.
#pragma once

#include <string>
#include <string_view>
#include <vector>
#include <windows.h>

#include "Errors.h"
#include "Handles.h"

#ifdef TAVILO_FAULT_INJECTION
#include "install/FaultPlan.h"
#endif

// A folder the install works in turned out to be a link (a symbolic link, junction or mount point): whatever the
// install deleted or moved through it would happen wherever the link points. ERROR_REPARSE_POINT_ENCOUNTERED,
// which mingw's headers lack.
constexpr unsigned long kErrorLinkInTheWay = 4395;

// One item of a folder, as the system lists it.
struct FolderItem {
    std::string name;
    DWORD attributes;
    bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
    bool IsDirectory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};
// What the folder (ending in '\') holds, without "." and "..": nothing when the folder does not exist; any other
// failure to list it, at the start or part way, raises EFileOperationError.
std::vector<FolderItem> ListFolder(const std::string& folder);

// Whether the path is a link (a reparse point) rather than the file or folder itself.
bool IsLink(const std::string& path);
// Whether two files hold the same bytes; false when either cannot be read.
bool SameBytes(const std::string& a, const std::string& b);

class FileOperations {
public:
    FileOperations() = default;
    FileOperations(const FileOperations&) = delete;
    FileOperations& operator=(const FileOperations&) = delete;

    void MakeDirectory(const std::string& path);
    // Removes an empty directory. A directory that still holds something is left alone: false.
    bool RemoveEmptyDirectory(const std::string& path);
    // Moves a file or directory to a name that must not exist yet. On one volume it is a rename: either the whole
    // move happens or none of it does, whatever interrupts it. A file that must cross volumes is copied beside its
    // destination under PartialCopyName(to), flushed, compared with the source, renamed into place with its
    // attributes, and only then is the source deleted. Interrupted, such a move leaves the source whole and
    // perhaps a partial copy, or two names holding the same bytes; never one name holding part of the file.
    void Move(const std::string& from, const std::string& to);
    static std::string PartialCopyName(const std::string& to);
    // Removes what a move across volumes that was cut short left beside its destination, if anything.
    void DiscardPartialCopy(const std::string& to);

    // Deletes a file, read-only or not (the attribute is put back when the file stays).
    void Delete(const std::string& path);
    // Removes a link itself, never what it points to; a system that will not tell the link from its target
    // (Wine does not) gets kErrorLinkInTheWay and nothing is removed.
    void RemoveLink(const std::string& path);

    // A new file opened for writing; an existing one is an error.
    UniqueHandle CreateNew(const std::string& path);
    // An existing file opened for writing at its end, cut back to `length` bytes first.
    UniqueHandle OpenAndTruncate(const std::string& path, unsigned long long length);
    // Writes at the file's end and waits until the bytes are on the disk.
    void WriteDurably(HANDLE file, const std::string& path, std::string_view bytes);
    // Cuts an open file back to `length` bytes and waits until that is on the disk.
    void CutBack(HANDLE file, const std::string& path, unsigned long long length);
    // Waits until the file's contents are on the disk, whoever wrote them (a read-only file included: the
    // attribute is cleared for the flush and put back).
    void Flush(const std::string& path);

private:
    // Every operation passes here first. Release builds do nothing; the test build counts the operation and may
    // end the process or make the operation fail (its system error number is returned, 0 to go on).
    unsigned long Before(std::string_view operation, const std::string& path, const std::string& other = {});

#ifdef TAVILO_FAULT_INJECTION
    [[noreturn]] static void EndProcessHere()
    {
        ExitProcess(FaultPlan::kKilledExitCode);
    }
    FaultPlan faults_ = FaultPlan::FromCommandLine();
#endif
};
