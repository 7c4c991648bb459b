// The install plan: every entry of the update descriptor, read and checked before the first file is moved, so
// that a faulty or hostile entry stops the install while nothing has changed.
#pragma once

#include <string>
#include <vector>

#include "UpdateDescriptor.h"

struct PlannedFile {
    std::string name;       // bare file name, as unpacked into the staging folder and as installed
    std::string directory;  // destination relative to the program directory: empty, or ending in '\'

    friend bool operator==(const PlannedFile&, const PlannedFile&) = default;
};

// Checks every entry of the descriptor (DescriptorReader::Files()) before anything moves, and refuses (ERefusal,
// the notice naming the entry and saying why) the first one that:
// - has an unsafe or invalid name or destination directory (see SafeNames.h);
// - takes a name or destination that the install keeps for itself (InstallLayout.h; the signature's name only where
//   packages are signed: `signing`);
// - repeats the name of an earlier entry (the package holds one file of each name);
// - is missing from what this package unpacked into the staging folder;
// - would replace a directory with a file.
std::vector<PlannedFile> PlanInstall(const std::vector<PackageFile>& entries, const std::string& programDirectory,
                                     bool signing);
