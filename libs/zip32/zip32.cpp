// zip32.dll: Info-ZIP's Windows interface for writing archives, over the portable ZIP core. The interface keeps
// options and callbacks between calls, so this library holds them in one guarded object. No exception leaves an
// entry point: every failure becomes a return code and a UTF-8 text sent to the print callback.
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "infozip_api.h"
#include "zipcore/entry_name.hpp"
#include "zipcore/error.hpp"
#include "zipcore/zip_writer.hpp"

namespace {

using namespace infozip;

class ZipLibrary {
public:
    static ZipLibrary& instance() {
        static ZipLibrary library;
        return library;
    }

    ZipOptions options() {
        std::lock_guard lock(mutex_);
        return options_;
    }
    void setOptions(const ZipOptions& options) {
        std::lock_guard lock(mutex_);
        options_ = options;
    }
    ZipCallbacks callbacks() {
        std::lock_guard lock(mutex_);
        return callbacks_;
    }
    void setCallbacks(const ZipCallbacks& callbacks) {
        std::lock_guard lock(mutex_);
        callbacks_ = callbacks;
    }

private:
    std::mutex mutex_;
    ZipOptions options_{};
    ZipCallbacks callbacks_{};
};

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
    // One deflating thread: under Wine, creating and joining worker threads in a DLL that is loaded and
    // unloaded around every call stalled after about a hundred archives in one process.
    zipcore::ZipWriter writer(request.archiveName, {.threads = 1});
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
    try {
        *options = ZipLibrary::instance().options();
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

BOOL WINAPI ZpSetOptions(ZipOptions* options) {
    if (!options) return FALSE;
    try {
        ZipLibrary::instance().setOptions(*options);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

int WINAPI ZpInit(ZipCallbacks* callbacks) {
    if (!callbacks) return FALSE;
    try {
        ZipLibrary::instance().setCallbacks(*callbacks);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

int WINAPI ZpArchive(ZipRequest request) {
    ZipCallbacks callbacks{};
    try {
        callbacks = ZipLibrary::instance().callbacks();
        return writeArchive(request, ZipLibrary::instance().options(), callbacks);
    } catch (const zipcore::Error& error) {
        try {
            print(callbacks, std::string("zip error: ") + error.what() + "\n");
        } catch (...) {
        }
        return resultFor(error.kind());
    } catch (const std::bad_alloc&) {
        return kZipOutOfMemory;
    } catch (...) {
        return kZipSevereError;
    }
}

// Names and texts cross this library's interface as UTF-8 (see infozip_api.h).
UINT WINAPI ArchiveTextCodePage()
{
    return CP_UTF8;
}

}  // extern "C"
