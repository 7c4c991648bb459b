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

// Removes everything in the folder, depth first; a link goes as a link, whatever it points to.
void EmptyFolder(FileOperations& files, const std::string& folder)
{
    for (const FolderItem& item : ListFolder(folder)) {
        const std::string path = folder + item.name;
        if (item.IsLink()) {
            files.RemoveLink(path);
        } else if (item.IsDirectory()) {
            EmptyFolder(files, path + "\\");
            files.RemoveEmptyDirectory(path);
        } else {
            files.Delete(path);
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

std::string PrepareStaging(FileOperations& files, const std::string& programDirectory)
{
    RefuseLinkedTemp(programDirectory);
    const std::string staging = programDirectory + std::string(layout::kStaging);
    const std::string folder = WithoutSeparator(staging);
    if (IsLink(folder)) {
        files.RemoveLink(folder);
    } else if (FileExists(folder)) {
        files.Delete(folder);
    } else if (DirectoryExists(folder)) {
        EmptyFolder(files, staging);
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
