// The program's wrappers over the real zip32.dll and unzip32.dll, loaded from beside this executable as the
// program loads them from its own directory.
#include <gtest/gtest.h>

#include <sstream>

#include "Driver.h"
#include "ZipExtractor.h"
#include "ZipPacker.h"
#include "zipcore/zip_reader.hpp"

using namespace driver;

namespace {

std::vector<std::string> EntryNames(const std::wstring& archive)
{
    std::vector<std::string> names;
    const zipcore::ZipReader reader = zipcore::ZipReader::open(Narrow(archive));
    for (const auto& entry : reader.entries()) names.push_back(entry.name);
    return names;
}

// Where the program loads the libraries from: its own directory, as this executable's is.
const std::string kLibraryDirectory = Narrow(BinDirectory());

// Moves one of the libraries out of the program directory for the length of a test.
class LibraryAway {
public:
    explicit LibraryAway(const std::wstring& name) : path_(BinDirectory() + name), aside_(path_ + L".away")
    {
        MoveFileW(path_.c_str(), aside_.c_str());
    }
    ~LibraryAway() { MoveFileW(aside_.c_str(), path_.c_str()); }
    const std::wstring& Aside() const { return aside_; }

private:
    std::wstring path_, aside_;
};

// A copy beside this executable for the length of a test.
class CopyInBin {
public:
    CopyInBin(const std::wstring& from, const std::wstring& name) : path_(BinDirectory() + name)
    {
        CopyFileW(from.c_str(), path_.c_str(), FALSE);
    }
    ~CopyInBin() { DeleteFileW(path_.c_str()); }

private:
    std::wstring path_;
};

}  // namespace

TEST(ZipWrappers, FilesFromSeveralDirectoriesLandFlatAndExtractOverExistingFiles)
{
    TempDir work;
    work.WriteFile(L"a\\one.txt", "one");
    work.WriteFile(L"b\\c\\two.bin", std::string("\0\1\2", 3));
    work.WriteFile(L"中文\\说明.txt", "说明");
    const std::wstring archive = work / L"out\\package.sky";
    CreateDirectoryW((work / L"out").c_str(), nullptr);

    TZipPacker packer;
    EXPECT_FALSE(packer.ZipFiles(
        Narrow(archive),
        {Narrow(work / L"a\\one.txt"), Narrow(work / L"b\\c\\two.bin"), Narrow(work / L"中文\\说明.txt")},
        kLibraryDirectory));
    EXPECT_EQ(EntryNames(archive), (std::vector<std::string>{"one.txt", "two.bin", "说明.txt"}));

    work.WriteFile(L"target\\one.txt", "an older one, to be replaced without a question");
    TZipExtractor extractor;
    EXPECT_FALSE(extractor.UnZipArchive(Narrow(archive), Narrow(work / L"target\\"), kLibraryDirectory));
    EXPECT_EQ(work.ReadFile(L"target\\one.txt"), "one");
    EXPECT_EQ(work.ReadFile(L"target\\two.bin"), std::string("\0\1\2", 3));
    EXPECT_EQ(work.ReadFile(L"target\\说明.txt"), "说明");

    EXPECT_FALSE(extractor.UnZipArchive(Narrow(archive), Narrow(work / L"new\\deeper\\"), kLibraryDirectory));
    EXPECT_TRUE(work.Exists(L"new\\deeper\\one.txt")) << "a missing target directory is created";
}

// A package may replace the libraries themselves: a loaded library cannot be replaced or deleted on Windows, so the
// wrappers hold one only for the length of each call.
TEST(ZipWrappers, NeitherLibraryStaysLoadedAfterItsCall)
{
    TempDir work;
    work.WriteFile(L"one.txt", "one");
    const auto loaded = [] {
        return std::vector<bool>{GetModuleHandleW(L"zip32.dll") != nullptr,
                                 GetModuleHandleW(L"unzip32.dll") != nullptr};
    };
    ASSERT_EQ(loaded(), (std::vector<bool>{false, false})) << "this test program must not link the libraries";
    EXPECT_FALSE(TZipPacker().ZipFiles(Narrow(work / L"one.sky"), {Narrow(work / L"one.txt")}, kLibraryDirectory));
    EXPECT_EQ(loaded(), (std::vector<bool>{false, false})) << "after packing";
    EXPECT_FALSE(TZipExtractor().UnZipArchive(Narrow(work / L"one.sky"), Narrow(work / L"out\\"), kLibraryDirectory));
    EXPECT_EQ(work.ReadFile(L"out\\one.txt"), "one");
    EXPECT_EQ(loaded(), (std::vector<bool>{false, false})) << "after extracting";
}

// Neither reaches the library: the recording stand-in for Info-ZIP's zip32.dll (which hands the work on to ours)
// takes its place and logs every archive it is asked for.
TEST(ZipWrappers, AnEmptyListOrNameWritesNothing)
{
    TempDir work;
    work.WriteFile(L"one.txt", "one");
    const LibraryAway ours(L"zip32.dll");
    const CopyInBin real(ours.Aside(), L"real-zip32.dll");
    const CopyInBin recorder(BinDirectory() + L"OriginalArchiveLibrary.dll", L"zip32.dll");
    const std::wstring log = work / L"calls.log";
    SetEnvironmentVariableW(L"ARCHIVE_DOUBLE_LOG", log.c_str());
    auto archivesAskedFor = [&] {
        std::vector<std::string> archives;
        std::istringstream lines(work.Exists(L"calls.log") ? work.ReadFile(L"calls.log") : "");
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("ZpArchive ", 0) == 0) archives.push_back(line.substr(10));
        }
        return archives;
    };

    TZipPacker packer;
    EXPECT_FALSE(packer.ZipFiles(Narrow(work / L"empty.sky"), {}, kLibraryDirectory));
    EXPECT_FALSE(packer.ZipFiles("", {Narrow(work / L"one.txt")}, kLibraryDirectory));
    EXPECT_EQ(archivesAskedFor(), std::vector<std::string>{});
    EXPECT_FALSE(work.Exists(L"empty.sky"));
    // The recorder is in place: an archive with a name and a file reaches it.
    EXPECT_FALSE(packer.ZipFiles(Narrow(work / L"one.sky"), {Narrow(work / L"one.txt")}, kLibraryDirectory));
    SetEnvironmentVariableW(L"ARCHIVE_DOUBLE_LOG", nullptr);
    EXPECT_EQ(archivesAskedFor(), std::vector<std::string>{Narrow(work / L"one.sky")});
    EXPECT_EQ(EntryNames(work / L"one.sky"), std::vector<std::string>{"one.txt"});
}

// The wrappers show no box of their own: they return the notice, for the caller to show, owned by the
// application's hidden window.
TEST(ZipWrappers, AMissingLibraryIsReportedEachWithItsOwnIcon)
{
    TempDir work;
    work.WriteFile(L"one.txt", "one");
    {
        LibraryAway away(L"zip32.dll");
        const std::optional<Notice> notice =
            TZipPacker().ZipFiles(Narrow(work / L"p.sky"), {Narrow(work / L"one.txt")}, kLibraryDirectory);
        ASSERT_TRUE(notice);
        EXPECT_EQ(notice->text, "找不到zip32.dll");
        EXPECT_EQ(notice->caption, "提示");
        EXPECT_EQ(notice->icon, NoticeIcon::Error);
        EXPECT_EQ(notice->owner, NoticeOwner::Application);
        EXPECT_FALSE(work.Exists(L"p.sky"));
    }
    {
        LibraryAway away(L"unzip32.dll");
        const std::optional<Notice> notice =
            TZipExtractor().UnZipArchive(Narrow(work / L"p.sky"), Narrow(work / L"t\\"), kLibraryDirectory);
        ASSERT_TRUE(notice);
        EXPECT_EQ(notice->text, "找不到unzip32.dll");
        EXPECT_EQ(notice->caption, "提示");
        EXPECT_EQ(notice->icon, NoticeIcon::Information);
        EXPECT_EQ(notice->owner, NoticeOwner::Application);
        EXPECT_FALSE(work.Exists(L"t"));
    }
    EXPECT_FALSE(FindMessageBox(GetCurrentProcessId()));
}

TEST(ZipWrappers, ALibraryWithoutTheEntryPointsIsSkippedSilently)
{
    // A library of the right name without the entry points: the program's own support DLL stands in.
    const LibraryAway zipAway(L"zip32.dll"), unzipAway(L"unzip32.dll");
    const CopyInBin zip(BinDirectory() + L"FakeArchiveLibrary.dll", L"zip32.dll");
    const CopyInBin unzip(BinDirectory() + L"FakeArchiveLibrary.dll", L"unzip32.dll");
    TempDir work;
    work.WriteFile(L"one.txt", "one");
    EXPECT_FALSE(TZipPacker().ZipFiles(Narrow(work / L"p.sky"), {Narrow(work / L"one.txt")}, kLibraryDirectory));
    EXPECT_FALSE(TZipExtractor().UnZipArchive(Narrow(work / L"p.sky"), Narrow(work / L"t\\"), kLibraryDirectory));
    EXPECT_FALSE(FindMessageBox(GetCurrentProcessId()));
    EXPECT_FALSE(work.Exists(L"p.sky"));
    EXPECT_FALSE(work.Exists(L"t"));
}
