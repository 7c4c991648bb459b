// Writes a ZIP archive from a list of files through zip32.dll. The entries carry the bare file names.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Notice.h"

class TZipPacker {
public:
    // archiveName: full path of the archive to write; files: full paths, in order; through programDirectory's
    // zip32.dll. A missing library writes nothing and returns its notice, for the caller to show. The library's
    // own failures are not reported: the caller looks at what is on disk afterwards.
    // A name that cannot be handed over raises EArchiveNameError before the library is called.
    [[nodiscard]] std::optional<Notice> ZipFiles(const std::string& archiveName, const std::vector<std::string>& files,
                                                 const std::string& programDirectory) const;

    // The first of these names (UTF-8) that the zip32.dll in place cannot be given, if any: Info-ZIP's own library
    // takes names in the system's code page. Lets a caller refuse before it writes anything.
    std::optional<std::string> NameItCannotTake(const std::vector<std::string>& names,
                                                const std::string& programDirectory) const;
};
