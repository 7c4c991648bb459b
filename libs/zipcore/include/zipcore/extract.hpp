// Extracting an archive flat into one directory, the way the updater installs a package: every entry lands
// under the last component of its name. Before anything is written, every name in the archive is checked and
// the free space of the target volume is compared with the sizes to be written; each file is written under a
// temporary name and replaces a file of its name only once it is complete and its CRC is right.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "zipcore/zip_reader.hpp"

namespace zipcore {

struct ExtractOptions {
    // Chooses the entries to extract (directories are never extracted); all files when empty.
    std::function<bool(const Entry&)> select;
    bool replaceExisting = true;
    // Files inflated at once; 0 means one per processor. Files are still written in the archive's order.
    unsigned threads = 0;
    // Called before each file with its flat name; returning false cancels the extraction.
    std::function<bool(const std::string& flatName, const Entry& entry)> beforeEntry;
};

struct ExtractSummary {
    std::size_t filesWritten = 0;
    std::size_t filesSkipped = 0;  // existing files kept because replaceExisting was off
    std::uint64_t bytesWritten = 0;
};

ExtractSummary extractFlat(const ZipReader& reader, const std::string& targetDirectory,
                           const ExtractOptions& options = {});

// Reads and checks every chosen file entry without writing anything; returns how many were tested.
std::size_t testEntries(const ZipReader& reader, const std::function<bool(const Entry&)>& select = {});

}  // namespace zipcore
