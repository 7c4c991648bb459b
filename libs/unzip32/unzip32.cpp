// unzip32.dll: Info-ZIP's Windows interface for extracting archives, over the portable ZIP core. Entries always
// land flat in the target directory and replace existing files without a question. No exception leaves the entry
// point: every failure becomes a return code and a UTF-8 text sent to the print callback.
#include <new>
#include <string>
#include <vector>

#include "entry_guard.h"
#include "infozip_api.h"
#include "zipcore/entry_name.hpp"
#include "zipcore/error.hpp"
#include "zipcore/extract.hpp"
#include "zipcore/name_match.hpp"
#include "zipcore/zip_reader.hpp"

namespace {

using namespace infozip;

class Reporter {
public:
    explicit Reporter(UnzipCallbacks* callbacks) : callbacks_(callbacks) {}

    void print(std::string text) const {
        if (callbacks_ && callbacks_->print) callbacks_->print(text.data(), static_cast<unsigned long>(text.size()));
    }
    bool cancelled(const std::string& name, std::uint64_t size) const {
        return callbacks_ && callbacks_->service &&
               callbacks_->service(name.c_str(), static_cast<unsigned long>(size)) != 0;
    }
    void list(const zipcore::Entry& entry) const {
        if (!callbacks_ || !callbacks_->message) return;
        const unsigned ratio = entry.uncompressedSize == 0
                                   ? 0
                                   : static_cast<unsigned>(100 - entry.compressedSize * 100 / entry.uncompressedSize);
        const auto date = entry.modified.date;
        const auto time = entry.modified.time;
        callbacks_->message(static_cast<unsigned long>(entry.uncompressedSize),
                            static_cast<unsigned long>(entry.compressedSize), ratio, (date >> 5) & 0x0F, date & 0x1F,
                            1980 + (date >> 9), time >> 11, (time >> 5) & 0x3F, entry.isDirectory() ? 'd' : ' ',
                            entry.name.c_str(), entry.method == 0 ? "Stored" : "Defl:N", entry.crc32, ' ');
    }
    void totals(const std::vector<const zipcore::Entry*>& chosen) const {
        if (!callbacks_) return;
        std::uint64_t compressed = 0, uncompressed = 0;
        for (const zipcore::Entry* entry : chosen) {
            compressed += entry->compressedSize;
            uncompressed += entry->uncompressedSize;
        }
        callbacks_->totalSizeCompressed = static_cast<unsigned long>(compressed);
        callbacks_->totalSize = static_cast<unsigned long>(uncompressed);
        callbacks_->compressionFactor = uncompressed == 0 ? 0 : static_cast<int>(100 - compressed * 100 / uncompressed);
        callbacks_->memberCount = static_cast<unsigned long>(chosen.size());
    }

private:
    UnzipCallbacks* callbacks_;
};

std::vector<std::string> namesOf(int count, char** names) {
    if (count > 0 && !names) throw zipcore::Error(zipcore::ErrorKind::Usage, "a list of names is missing");
    std::vector<std::string> result;
    for (int i = 0; i < count; ++i)
        if (names[i]) result.emplace_back(names[i]);
    return result;
}

// Include and exclude names match either the stored name or the name the file gets when extracted flat.
class Selection {
public:
    Selection(std::vector<std::string> include, std::vector<std::string> exclude, bool caseInsensitive)
        : include_(std::move(include)), exclude_(std::move(exclude)), caseInsensitive_(caseInsensitive) {}

    bool operator()(const zipcore::Entry& entry) const {
        if (entry.isDirectory()) return false;
        return (include_.empty() || matchesAny(entry, include_)) && !matchesAny(entry, exclude_);
    }
    bool restricted() const { return !include_.empty(); }

private:
    bool matchesAny(const zipcore::Entry& entry, const std::vector<std::string>& patterns) const {
        const std::string flat = zipcore::lastPathComponent(entry.name);
        for (const std::string& pattern : patterns)
            if (zipcore::matchesPattern(entry.name, pattern, caseInsensitive_) ||
                zipcore::matchesPattern(flat, pattern, caseInsensitive_))
                return true;
        return false;
    }
    std::vector<std::string> include_;
    std::vector<std::string> exclude_;
    bool caseInsensitive_;
};

int resultFor(zipcore::ErrorKind kind) {
    switch (kind) {
        case zipcore::ErrorKind::Usage: return kUnzipBadParameters;
        case zipcore::ErrorKind::NotFound:
        case zipcore::ErrorKind::NotZip: return kUnzipNoArchive;
        case zipcore::ErrorKind::Unsafe: return kUnzipRefused;
        case zipcore::ErrorKind::Unsupported: return kUnzipUnsupported;
        case zipcore::ErrorKind::DiskFull: return kUnzipDiskFull;
        case zipcore::ErrorKind::Cancelled: return kUnzipCancelled;
        default: return kUnzipArchiveError;
    }
}

std::string targetOf(const UnzipOptions& options) {
    std::string target = options.targetDirectory && *options.targetDirectory ? options.targetDirectory : ".";
    // "C:\Temp\" and "C:\Temp" are the same directory; a root such as "C:\" keeps its separator.
    while (target.size() > 1 && (target.back() == '\\' || target.back() == '/') && target[target.size() - 2] != ':')
        target.pop_back();
    return target;
}

int unzip(const Selection& selection, const UnzipOptions& options, const Reporter& reporter) {
    const zipcore::ZipReader reader = zipcore::ZipReader::open(options.archiveName);
    std::vector<const zipcore::Entry*> chosen;
    for (const zipcore::Entry& entry : reader.entries())
        if (selection(entry)) chosen.push_back(&entry);
    reporter.totals(chosen);
    if (chosen.empty() && selection.restricted()) {
        reporter.print("caution: no file matched in " + std::string(options.archiveName) + "\n");
        return kUnzipNoMatch;
    }

    if (options.listOnly) {
        for (const zipcore::Entry* entry : chosen) reporter.list(*entry);
        return kUnzipOk;
    }
    if (options.testOnly) {
        zipcore::testEntries(reader, std::cref(selection));
        reporter.print("No errors detected in compressed data of " + std::string(options.archiveName) + ".\n");
        return kUnzipOk;
    }
    zipcore::ExtractOptions extract;
    extract.select = std::cref(selection);
    extract.replaceExisting = options.neverOverwrite == 0;
    extract.beforeEntry = [&](const std::string& flatName, const zipcore::Entry& entry) {
        if (reporter.cancelled(flatName, entry.uncompressedSize)) return false;
        reporter.print("  inflating: " + flatName + "\n");
        return true;
    };
    zipcore::extractFlat(reader, targetOf(options), extract);
    return kUnzipOk;
}

}  // namespace

extern "C" int WINAPI Wiz_SingleEntryUnzip(int includeCount, char** includeNames, int excludeCount, char** excludeNames,
                                           UnzipOptions* options, UnzipCallbacks* callbacks) {
    const Reporter reporter(callbacks);
    return GuardedEntry(
        {"unzip", kUnzipOutOfMemory, kUnzipArchiveError}, [&](const std::string& text) { reporter.print(text); },
        resultFor,
        [&] {
            if (!options || !options->archiveName || !*options->archiveName)
                throw zipcore::Error(zipcore::ErrorKind::Usage, "no archive name given");
            const Selection selection(namesOf(includeCount, includeNames), namesOf(excludeCount, excludeNames),
                                      options->caseInsensitive != 0);
            return unzip(selection, *options, reporter);
        });
}

// Names and texts cross this library's interface as UTF-8 (see infozip_api.h).
extern "C" UINT WINAPI ArchiveTextCodePage() { return CP_UTF8; }
