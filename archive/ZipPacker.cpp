#include "ZipPacker.h"

#include "ArchiveLibrary.h"
#include "LibraryCallbacks.h"
#include "infozip_api.h"

namespace {

using namespace infozip;
using namespace library_callbacks;

// Zero-terminated copies of the names for the library; the vector frees them on every path.
struct NameBuffers {
    explicit NameBuffers(const std::vector<std::string>& names) : copies(names.begin(), names.end())
    {
        for (std::string& copy : copies) pointers.push_back(copy.data());
    }
    std::vector<std::string> copies;
    std::vector<char*> pointers;
};

}  // namespace

std::optional<std::string> TZipPacker::NameItCannotTake(const std::vector<std::string>& names,
                                                        const std::string& programDirectory) const
{
    const ArchiveLibrary library(programDirectory, "zip32.dll");
    if (!library.Loaded()) return std::nullopt;  // ZipFiles says that the library is missing
    for (const std::string& name : names) {
        if (!library.Encode(name)) return name;
    }
    return std::nullopt;
}

std::optional<Notice> TZipPacker::ZipFiles(const std::string& archiveName, const std::vector<std::string>& files,
                                           const std::string& programDirectory) const
{
    ArchiveLibrary library(programDirectory, "zip32.dll");
    // Owned by the application's hidden window, as the archive libraries' messages have always been.
    if (!library.Loaded()) return Notice{"找不到zip32.dll", NoticeIcon::Error, NoticeOwner::Application};
    auto getOptions = library.Resolve<ZpGetOptionsFn>("ZpGetOptions");
    auto setOptions = library.Resolve<ZpSetOptionsFn>("ZpSetOptions");
    auto init = library.Resolve<ZpInitFn>("ZpInit");
    auto archive = library.Resolve<ZpArchiveFn>("ZpArchive");

    if (getOptions && setOptions) {
        ZipOptions options{};
        getOptions(&options);
        options.fields[kJunkDirectoriesField] = -1;  // entries under their bare names
        setOptions(&options);
    }
    if (init && archive && !archiveName.empty() && !files.empty()) {
        std::vector<std::string> encoded;
        for (const std::string& file : files) encoded.push_back(library.EncodeOrThrow(file));
        NameBuffers name({library.EncodeOrThrow(archiveName)});
        NameBuffers names(encoded);
        ZipCallbacks callbacks{DiscardText, KeepComment, NoPassword, GoOn};
        init(&callbacks);
        archive(ZipRequest{static_cast<int>(files.size()), name.pointers[0], names.pointers.data()});
    }
    return std::nullopt;
}
