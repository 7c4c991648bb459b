// zip32.dll and unzip32.dll loaded, used and unloaded again and again in one process, as the program does around
// every archive: each call works on several threads, and nothing of those threads or of the C++ runtime may
// outlive the call.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "Driver.h"
#include "LoadedLibrary.h"
#include "infozip_api.h"
#include "sample_data.hpp"
#include "zipcore/byte_stream.hpp"
#include "zipcore/text.hpp"
#include "zipcore/zip_reader.hpp"

namespace {

namespace fs = std::filesystem;
using namespace infozip;
using driver::TempDir;

std::string utf8(const fs::path& path)
{
    return zipcore::toUtf8(path.wstring());
}

int WINAPI ignoreText(char*, unsigned long length)
{
    return static_cast<int>(length);
}
char* WINAPI keepComment(char* buffer)
{
    return buffer;
}
int WINAPI noPassword(char*, int, const char*, const char*)
{
    return 1;
}
int WINAPI goOn(const char*, unsigned long)
{
    return 0;
}
int WINAPI replace(char*)
{
    return 1;
}
void WINAPI ignoreEntry(unsigned long, unsigned long, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned, char,
                        const char*, const char*, unsigned long, char)
{
}

// Loads zip32.dll, packs `files` into `archive` the way the program does, and unloads the library.
int packWithFreshLibrary(const fs::path& archive, const std::vector<fs::path>& files)
{
    const LoadedLibrary zip(L"zip32.dll");
    if (!zip.loaded()) return -1;
    const auto getOptions = zip.get<ZpGetOptionsFn>("ZpGetOptions");
    const auto setOptions = zip.get<ZpSetOptionsFn>("ZpSetOptions");
    const auto init = zip.get<ZpInitFn>("ZpInit");
    const auto pack = zip.get<ZpArchiveFn>("ZpArchive");
    if (!getOptions || !setOptions || !init || !pack) return -1;
    ZipOptions options{};
    getOptions(&options);
    options.fields[kJunkDirectoriesField] = -1;
    setOptions(&options);
    ZipCallbacks callbacks{ignoreText, keepComment, noPassword, goOn};
    init(&callbacks);
    std::string name = utf8(archive);
    std::vector<std::string> names;
    for (const fs::path& file : files) names.push_back(utf8(file));
    std::vector<char*> pointers;
    for (std::string& file : names) pointers.push_back(file.data());
    return pack(ZipRequest{static_cast<int>(pointers.size()), name.data(), pointers.data()});
}

// Loads unzip32.dll, extracts `archive` into `target` the way the program does, and unloads the library.
int extractWithFreshLibrary(const fs::path& archive, const fs::path& target)
{
    const LoadedLibrary unzip(L"unzip32.dll");
    const auto extract = unzip.get<WizSingleEntryUnzipFn>("Wiz_SingleEntryUnzip");
    if (!extract) return -1;
    std::string name = utf8(archive);
    std::string directory = utf8(target);
    UnzipOptions options{0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, name.data(), directory.data()};
    UnzipCallbacks callbacks{};
    callbacks.print = ignoreText;
    callbacks.replace = replace;
    callbacks.password = noPassword;
    callbacks.message = ignoreEntry;
    callbacks.service = goOn;
    return extract(0, nullptr, 0, nullptr, &options, &callbacks);
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// winpthreads, linked into the DLL, keeps a TLS index for the threads it knows and never frees it: the lowest
// free index moves on whenever a load leaves such a record behind.
DWORD lowestFreeTlsIndex()
{
    const DWORD index = TlsAlloc();
    TlsFree(index);
    return index;
}

TEST(ArchiveLibrariesReloaded, PackAndExtractOnSeveralThreadsThreeHundredTimesAndLeaveNothingBehind)
{
    TempDir dir;
    // 1.5 MiB of text: a dozen blocks, several of them deflated at once; and a few files inflated at once.
    const std::vector<std::pair<std::string, std::string>> contents{{"text.txt", ziptest::sampleText(1'500'000)},
                                                                    {"random.bin", ziptest::randomBytes(100'000)},
                                                                    {"small.txt", ziptest::sampleText(20'000, 2)}};
    std::vector<fs::path> files;
    for (const auto& [name, content] : contents) {
        files.push_back(dir / name.c_str());
        std::ofstream out(files.back(), std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }

    // On 32 bits the DWARF unwinder registers a DLL's frames through winpthreads when it is loaded, which costs
    // a TLS index per load whatever the library does; packing and extracting must not add to that.
    const DWORD before = lowestFreeTlsIndex();
    {
        const LoadedLibrary zip(L"zip32.dll");
        const LoadedLibrary unzip(L"unzip32.dll");
    }
    const DWORD perRound = lowestFreeTlsIndex() - before;

    const fs::path archive = dir / "package.zip";
    const fs::path target = dir / "target";
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(packWithFreshLibrary(archive, files), kZipOk);
        const zipcore::ZipReader reader = zipcore::ZipReader::open(utf8(archive));
        ASSERT_EQ(reader.entries().size(), contents.size());
        for (std::size_t i = 0; i < contents.size(); ++i) {
            zipcore::VectorSink content;
            reader.read(reader.entries()[i], content);  // checks the CRC and the sizes as well
            ASSERT_TRUE(std::string(content.bytes().begin(), content.bytes().end()) == contents[i].second)
                << contents[i].first;
        }
        fs::remove_all(target);
        ASSERT_EQ(extractWithFreshLibrary(archive, target), kUnzipOk);
        for (const auto& [name, content] : contents) ASSERT_TRUE(readFile(target / name) == content) << name;
    }
    EXPECT_EQ(lowestFreeTlsIndex(), before + 301 * perRound) << "a call left per-thread state behind";
}

}  // namespace
