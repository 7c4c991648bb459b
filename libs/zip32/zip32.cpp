// zip32.dll: Info-ZIP's Windows interface for writing archives, over the portable ZIP core. The interface keeps
// options and callbacks between calls, so this library holds them in one guarded object. No exception leaves an
// entry point: every failure becomes a return code and a UTF-8 text sent to the print callback.
#include <new>
#include <string>
#include <vector>

#include "entry_guard.h"
#include "infozip_api.h"
#include "zipcore/entry_name.hpp"
#include "zipcore/error.hpp"
#include "zipcore/zip_writer.hpp"

namespace {

using namespace infozip;

// Holds a slim reader/writer lock for its scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

// What the interface keeps between calls. The caller unloads the DLL after each archive, so nothing here may
// leave state behind in the process: the object is constant-initialized (a function-local static would be
// guarded by a once-flag of winpthreads, which attaches a record with a TLS index and two handles to the
// calling thread, freed only when that thread ends), and the lock is an SRW lock, which needs no cleanup.
class ZipLibrary {
public:
    ZipOptions options() {
        ExclusiveLock hold(lock_);
        return options_;
    }
    void setOptions(const ZipOptions& options) {
        ExclusiveLock hold(lock_);
        options_ = options;
    }
    ZipCallbacks callbacks() {
        ExclusiveLock hold(lock_);
        return callbacks_;
    }
    void setCallbacks(const ZipCallbacks& callbacks) {
        ExclusiveLock hold(lock_);
        callbacks_ = callbacks;
    }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    ZipOptions options_{};
    ZipCallbacks callbacks_{};
};

constinit ZipLibrary library;

void print(const ZipCallbacks& callbacks, std::string text) {
    if (callbacks.print) callbacks.print(text.data(), static_cast<unsigned long>(text.size()));
}

int resultFor(zipcore::ErrorKind kind) {
    switch (kind) {
        case zipcore::ErrorKind::Usage: return kZipBadParameters;
        case zipcore::ErrorKind::NotFound: return kZipCannotOpenFile;
        case zipcore::ErrorKind::Cancelled: return kZipCancelled;
        case zipcore::ErrorKind::Io:
        case zipcore::ErrorKind::DiskFull: return kZipWriteError;
        default: return kZipSevereError;
    }
}

int writeArchive(const ZipRequest& request, const ZipOptions& options, const ZipCallbacks& callbacks) {
    if (!request.archiveName || !*request.archiveName)
        throw zipcore::Error(zipcore::ErrorKind::Usage, "no archive name given");
    if (request.count <= 0 || !request.fileNames) {
        print(callbacks, "zip: nothing to do\n");
        return kZipNothingToDo;
    }
    const bool junkDirectories = options.fields[kJunkDirectoriesField] != 0;
    zipcore::ZipWriter writer(request.archiveName);
    for (int i = 0; i < request.count; ++i) {
        const char* file = request.fileNames[i];
        if (!file) throw zipcore::Error(zipcore::ErrorKind::Usage, "a file name is missing from the list");
        const zipcore::FileInfo info = zipcore::fileInfo(file);
        if (callbacks.service && callbacks.service(file, static_cast<unsigned long>(info.size)) != 0)
            throw zipcore::Error(zipcore::ErrorKind::Cancelled, "cancelled before " + std::string(file));
        const std::string entryName = zipcore::entryNameForPath(file, junkDirectories);
        writer.addFile(file, entryName);
        print(callbacks, "  adding: " + entryName + "\n");
    }
    writer.finish();
    return kZipOk;
}

}  // namespace

extern "C" {

BOOL WINAPI ZpGetOptions(ZipOptions* options) {
    if (!options) return FALSE;
    return GuardedOr<BOOL>(FALSE, [&] {
        *options = library.options();
        return TRUE;
    });
}

BOOL WINAPI ZpSetOptions(ZipOptions* options) {
    if (!options) return FALSE;
    return GuardedOr<BOOL>(FALSE, [&] {
        library.setOptions(*options);
        return TRUE;
    });
}

int WINAPI ZpInit(ZipCallbacks* callbacks) {
    if (!callbacks) return FALSE;
    return GuardedOr<int>(FALSE, [&] {
        library.setCallbacks(*callbacks);
        return TRUE;
    });
}

int WINAPI ZpArchive(ZipRequest request) {
    ZipCallbacks callbacks{};
    return GuardedEntry(
        {"zip", kZipOutOfMemory, kZipSevereError}, [&](const std::string& text) { print(callbacks, text); }, resultFor,
        [&] {
            callbacks = library.callbacks();
            return writeArchive(request, library.options(), callbacks);
        });
}

// Names and texts cross this library's interface as UTF-8 (see infozip_api.h).
UINT WINAPI ArchiveTextCodePage() { return CP_UTF8; }

}  // extern "C"
