// The program's wrappers over the real zip32.dll and unzip32.dll, loaded from beside this executable as the
// program loads them from its own directory.
#include <gtest/gtest.h>

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

private:
    std::wstring path_, aside_;
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

TEST(ZipWrappers, AnEmptyListOrNameWritesNothing)
{
    TempDir work;
    work.WriteFile(L"one.txt", "one");
    TZipPacker packer;
    EXPECT_FALSE(packer.ZipFiles(Narrow(work / L"empty.sky"), {}, kLibraryDirectory));
    EXPECT_FALSE(packer.ZipFiles("", {Narrow(work / L"one.txt")}, kLibraryDirectory));
    EXPECT_FALSE(work.Exists(L"empty.sky"));
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
    LibraryAway zipAway(L"zip32.dll"), unzipAway(L"unzip32.dll");
    CopyFileW((BinDirectory() + L"FakeArchiveLibrary.dll").c_str(), (BinDirectory() + L"zip32.dll").c_str(), FALSE);
    CopyFileW((BinDirectory() + L"FakeArchiveLibrary.dll").c_str(), (BinDirectory() + L"unzip32.dll").c_str(), FALSE);
    TempDir work;
    work.WriteFile(L"one.txt", "one");
    EXPECT_FALSE(TZipPacker().ZipFiles(Narrow(work / L"p.sky"), {Narrow(work / L"one.txt")}, kLibraryDirectory));
    EXPECT_FALSE(TZipExtractor().UnZipArchive(Narrow(work / L"p.sky"), Narrow(work / L"t\\"), kLibraryDirectory));
    EXPECT_FALSE(FindMessageBox(GetCurrentProcessId()));
    EXPECT_FALSE(work.Exists(L"p.sky"));
    EXPECT_FALSE(work.Exists(L"t"));
    DeleteFileW((BinDirectory() + L"zip32.dll").c_str());
    DeleteFileW((BinDirectory() + L"unzip32.dll").c_str());
}
