#include "zipcore/extract.hpp"

#include <limits>
#include <map>
#include <vector>

#include "output_buffer.hpp"
#include "zipcore/entry_name.hpp"
#include "zipcore/error.hpp"
#include "zipcore/name_match.hpp"

namespace zipcore {
namespace {

struct PlannedFile {
    const Entry* entry;
    std::string flatName;
};

std::string withoutTrailingSeparators(std::string name) {
    while (!name.empty() && (name.back() == '/' || name.back() == '\\')) name.pop_back();
    return name;
}

// Checks every name of the archive, not only the chosen ones: an archive carrying one hostile name is not
// trusted with the others either. Two files that Windows would take for one ("x.dll" and "sub/X.DLL" once
// flattened) are refused too: the second would silently replace the first.
std::vector<PlannedFile> planFiles(const ZipReader& reader, const std::function<bool(const Entry&)>& select) {
    std::vector<PlannedFile> plan;
    std::map<std::string, const Entry*> fileByKey;
    for (const Entry& entry : reader.entries()) {
        if (entry.isDirectory()) {
            safeFlatName(withoutTrailingSeparators(entry.name));
            continue;
        }
        std::string flatName = safeFlatName(entry.name);
        const auto [earlier, isNew] = fileByKey.emplace(fileNameKey(flatName), &entry);
        if (!isNew)
            throw Error(ErrorKind::Unsafe, "refused entries \"" + printableName(earlier->second->name) + "\" and \"" +
                                               printableName(entry.name) + "\": both would be extracted as \"" +
                                               printableName(flatName) + "\"");
        if (!select || select(entry)) plan.push_back({&entry, std::move(flatName)});
    }
    return plan;
}

// Declared sizes come from the archive: a forged one near 2^64 must not wrap the total below the free space.
std::uint64_t saturatingSum(std::uint64_t a, std::uint64_t b) {
    return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

std::string byteCount(std::uint64_t bytes) { return std::to_string(bytes) + " bytes"; }

}  // namespace

ExtractSummary extractFlat(const ZipReader& reader, const std::string& targetDirectory,
                           const ExtractOptions& options) {
    const std::vector<PlannedFile> plan = planFiles(reader, options.select);
    createDirectories(targetDirectory);

    std::uint64_t needed = 0;
    for (const PlannedFile& file : plan) needed = saturatingSum(needed, file.entry->uncompressedSize);
    const std::uint64_t available = freeSpace(targetDirectory);
    if (needed > available)
        throw Error(ErrorKind::DiskFull, "the archive needs " + byteCount(needed) + " but only " +
                                             byteCount(available) + " are free in " + targetDirectory);

    ExtractSummary summary;
    for (const PlannedFile& file : plan) {
        if (options.beforeEntry && !options.beforeEntry(file.flatName, *file.entry))
            throw Error(ErrorKind::Cancelled, "the extraction was cancelled");
        const std::string finalPath = joinPath(targetDirectory, file.flatName);
        if (!options.replaceExisting && fileInfo(finalPath).exists) {
            ++summary.filesSkipped;
            continue;
        }
        TempFile temporary(targetDirectory);
        OutputBuffer output(temporary.file());
        reader.read(*file.entry, output);
        output.flush();
        temporary.file().setModified(file.entry->modified);
        temporary.commitAs(finalPath);
        ++summary.filesWritten;
        summary.bytesWritten += file.entry->uncompressedSize;
    }
    return summary;
}

std::size_t testEntries(const ZipReader& reader, const std::function<bool(const Entry&)>& select) {
    std::size_t tested = 0;
    NullSink discard;
    for (const Entry& entry : reader.entries()) {
        if (entry.isDirectory() || (select && !select(entry))) continue;
        reader.read(entry, discard);
        ++tested;
    }
    return tested;
}

}  // namespace zipcore
