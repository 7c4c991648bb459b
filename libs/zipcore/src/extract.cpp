#include "zipcore/extract.hpp"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include "output_buffer.hpp"
#include "parallel_tasks.hpp"
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

// Several tasks inflate files into temporary files at once; the calling thread commits them in the archive's
// order, and calls the callback for each just before. So a failure or a cancel leaves exactly the files before it
// in place, as one file after the other would, and the callbacks run on the caller's thread.
class FlatExtraction {
public:
    FlatExtraction(const ZipReader& reader, const std::string& targetDirectory, const ExtractOptions& options,
                   std::vector<PlannedFile> plan)
        : reader_(reader),
          target_(targetDirectory),
          options_(options),
          plan_(std::move(plan)),
          finished_(plan_.size()),
          skipped_(plan_.size()),
          slots_(std::min<std::size_t>(threadCount(options.threads), std::max<std::size_t>(plan_.size(), 1))),
          tasks_(slots_.size(), [this](std::size_t slot) { extractIn(slots_[slot]); }) {
        for (std::size_t i = 0; i < slots_.size(); ++i) idle_.push_back(i);
    }

    ExtractSummary run() {
        try {
            for (;;) {
                while (committed_ < plan_.size() && (skipped_[committed_] || finished_[committed_])) commitNext();
                if (committed_ == plan_.size()) return summary_;
                if (failedFile_ == committed_) {
                    announce(committed_);
                    std::rethrow_exception(failure_);
                }
                // The next file to commit runs now if it did not before, unless it is kept as it is.
                startWhatFits();
                if (idle_.size() < slots_.size()) collect(tasks_.waitAny());
            }
        } catch (...) {
            // The tasks still running are waited for; their files are discarded with them.
            while (idle_.size() < slots_.size()) idle_.push_back(tasks_.waitAny());
            throw;
        }
    }

private:
    struct Slot {
        std::size_t file = 0;
        std::unique_ptr<TempFile> temporary;
        std::exception_ptr error;
    };

    // How far extraction may run ahead of the commits: each file waiting for its turn lies in the target
    // directory under a temporary name.
    static constexpr std::size_t kMaxAhead = 64;

    std::string finalPath(std::size_t file) const { return joinPath(target_, plan_[file].flatName); }

    void startWhatFits() {
        while (!idle_.empty() && started_ < plan_.size() && started_ < committed_ + kMaxAhead && !failure_) {
            const std::size_t file = started_++;
            if (!options_.replaceExisting && fileInfo(finalPath(file)).exists) {
                skipped_[file] = true;
                continue;
            }
            const std::size_t slot = idle_.back();
            idle_.pop_back();
            slots_[slot].file = file;
            try {
                tasks_.start(slot);
            } catch (...) {
                // Not running: the slot is idle again, or the wait for the running tasks would wait for it forever.
                idle_.push_back(slot);
                throw;
            }
        }
    }

    // Runs as a task: everything that can fail is caught and left in the slot.
    void extractIn(Slot& slot) noexcept {
        try {
            const Entry& entry = *plan_[slot.file].entry;
            auto temporary = std::make_unique<TempFile>(target_);
            OutputBuffer output(temporary->file());
            reader_.read(entry, output);
            output.flush();
            temporary->file().setModified(entry.modified);
            temporary->file().close();
            slot.temporary = std::move(temporary);
        } catch (...) {
            slot.error = std::current_exception();
        }
    }

    void collect(std::size_t index) {
        idle_.push_back(index);
        Slot& slot = slots_[index];
        if (slot.error) {
            if (slot.file < failedFile_) {
                failedFile_ = slot.file;
                failure_ = slot.error;
            }
            slot.error = nullptr;
        } else {
            finished_[slot.file] = std::move(slot.temporary);
        }
    }

    void announce(std::size_t file) {
        if (options_.beforeEntry && !options_.beforeEntry(plan_[file].flatName, *plan_[file].entry))
            throw Error(ErrorKind::Cancelled, "the extraction was cancelled");
    }

    void commitNext() {
        const std::size_t file = committed_;
        announce(file);
        if (skipped_[file]) {
            ++summary_.filesSkipped;
        } else {
            finished_[file]->commitAs(finalPath(file));
            finished_[file].reset();
            ++summary_.filesWritten;
            summary_.bytesWritten += plan_[file].entry->uncompressedSize;
        }
        ++committed_;
    }

    const ZipReader& reader_;
    const std::string& target_;
    const ExtractOptions& options_;
    const std::vector<PlannedFile> plan_;
    std::vector<std::unique_ptr<TempFile>> finished_;  // inflated and checked, not yet committed
    std::vector<bool> skipped_;                        // existing files kept because replaceExisting is off
    std::size_t started_ = 0;
    std::size_t committed_ = 0;
    std::size_t failedFile_ = SIZE_MAX;
    std::exception_ptr failure_;
    ExtractSummary summary_;
    std::vector<Slot> slots_;
    std::vector<std::size_t> idle_;
    ParallelTasks tasks_;  // last: its tasks end before the slots and files they work on go
};

}  // namespace

ExtractSummary extractFlat(const ZipReader& reader, const std::string& targetDirectory, const ExtractOptions& options) {
    std::vector<PlannedFile> plan = planFiles(reader, options.select);
    createDirectories(targetDirectory);

    std::uint64_t needed = 0;
    for (const PlannedFile& file : plan) needed = saturatingSum(needed, file.entry->uncompressedSize);
    const std::uint64_t available = freeSpace(targetDirectory);
    if (needed > available)
        throw Error(ErrorKind::DiskFull, "the archive needs " + byteCount(needed) + " but only " +
                                             byteCount(available) + " are free in " + targetDirectory);
    return FlatExtraction(reader, targetDirectory, options, std::move(plan)).run();
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
