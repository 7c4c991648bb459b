// The staging folder that each run unpacks the package into. It is emptied first, so that only the files this
// package's extraction produced can be installed: a file an earlier run left there can never stand in for one that
// the package lacks or failed to unpack.
#pragma once

#include <string>

#include "install/FileOperations.h"
#include "install/RunningImage.h"

// Makes the staging folder ready and returns its absolute path (ending in '\'): empty, or missing for the
// extraction to create. Emptying never goes through a link: a link found there is removed itself, and a link at
// Temp\ is refused (kErrorLinkInTheWay). The one file that cannot be deleted because this process runs from it
// (an undone install of the updater itself moves the running Update.exe back here) is moved aside among the
// install's leftovers in the journal's folder, which a later click removes; whatever else cannot be removed raises
// EFileOperationError naming it.
std::string PrepareStaging(FileOperations& files, const std::string& programDirectory,
                           const RunningImage& runningImage);

// Makes the staging folder's parent (Temp\) when it is missing: Info-ZIP's unzip32.dll makes only the last level of
// the folder it extracts into, and fails without unpacking anything when the level above is missing. Raises
// EFileOperationError naming the folder that could not be made.
void MakeStagingParent(FileOperations& files, const std::string& programDirectory);
