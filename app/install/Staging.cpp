#include "install/Staging.h"

#include <windows.h>

#include "Paths.h"
#include "install/InstallLayout.h"

namespace {

std::string WithoutSeparator(std::string path)
{
    if (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

// The running program can be renamed but not deleted: it leaves the staging folder for the journal's folder, whose
// leftovers go at a later click, once the program has ended.
void SetAsideRunningImage(FileOperations& files, const std::string& programDirectory, const std::string& path)
{
    const std::string journal = programDirectory + std::string(layout::kJournal);
    const std::string folder = WithoutSeparator(journal);
    if (IsLink(folder)) throw EFileOperationError("A link stands in the install's way", folder, kErrorLinkInTheWay);
    if (!DirectoryExists(folder)) files.MakeDirectory(folder);
    const std::string name = ExtractFileName(path);
    std::string aside;
    for (unsigned n = 1; aside.empty() || FileExists(aside) || DirectoryExists(aside); ++n) {
        aside = journal + name + "." + std::to_string(n) + ".running";
    }
    files.Move(path, aside);
}

// Removes everything in the folder, depth first; a link goes as a link, whatever it points to.
void EmptyFolder(FileOperations& files, const std::string& folder, const std::string& programDirectory,
                 const RunningImage& runningImage)
{
    for (const FolderItem& item : ListFolder(folder)) {
        const std::string path = folder + item.name;
        if (item.IsLink()) {
            files.RemoveLink(path);
        } else if (item.IsDirectory()) {
            EmptyFolder(files, path + "\\", programDirectory, runningImage);
            files.RemoveEmptyDirectory(path);
        } else {
            try {
                files.Delete(path);
            } catch (const EFileOperationError&) {
                if (!runningImage.Is(path)) throw;
                SetAsideRunningImage(files, programDirectory, path);
            }
        }
    }
}

// Nothing of the install is deleted or moved through a link at Temp\: it would happen wherever the link points.
void RefuseLinkedTemp(const std::string& programDirectory)
{
    const std::string temp = programDirectory + WithoutSeparator(std::string(layout::kTemp));
    if (IsLink(temp)) throw EFileOperationError("A link stands in the install's way", temp, kErrorLinkInTheWay);
}

}  // namespace

std::string PrepareStaging(FileOperations& files, const std::string& programDirectory, const RunningImage& runningImage)
{
    RefuseLinkedTemp(programDirectory);
    const std::string staging = programDirectory + std::string(layout::kStaging);
    const std::string folder = WithoutSeparator(staging);
    if (IsLink(folder)) {
        files.RemoveLink(folder);
    } else if (FileExists(folder)) {
        files.Delete(folder);
    } else if (DirectoryExists(folder)) {
        EmptyFolder(files, staging, programDirectory, runningImage);
        // Whatever the removal missed would be taken for part of this package.
        if (!ListFolder(staging).empty()) {
            throw EFileOperationError("The staging folder is not empty", folder, ERROR_DIR_NOT_EMPTY);
        }
    }
    return staging;
}

void MakeStagingParent(FileOperations& files, const std::string& programDirectory)
{
    const std::string temp = programDirectory + WithoutSeparator(std::string(layout::kTemp));
    if (!DirectoryExists(temp)) files.MakeDirectory(temp);
}
