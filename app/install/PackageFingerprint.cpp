#include "install/PackageFingerprint.h"

#include "FileBytes.h"
#include "Sha256.h"
#include "install/FileOperations.h"

std::string Sha256OfFile(const std::string& path)
{
    try {
        return signing::Hex(signing::FileSha256(path));
    } catch (const signing::FileError& error) {
        throw EFileOperationError("Cannot read", error.Path(), error.Code());
    }
}
