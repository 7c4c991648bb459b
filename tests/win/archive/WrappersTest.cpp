// The program's wrappers over the real zip32.dll and unzip32.dll, loaded from beside this executable as the
// program loads them from its own directory.
#include <gtest/gtest.h>

#include <thread>

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

// Runs `action` while a watcher answers the message box it opens; returns what the box said.
MessageBoxInfo AnswerBoxDuring(const std::function<void()>& action)
{
    MessageBoxInfo shown;
    std::thread watcher([&] {
        if (auto box = WaitForMessageBox(GetCurrentProcessId(), 10s)) {
            shown = *box;
            box->Dismiss();
        }
    });
    action();
    watcher.join();
    return shown;
}

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

    TZipPacker packer(nullptr);
    packer.ZipFiles(Narrow(archive),
                    {Narrow(work / L"a\\one.txt"), Narrow(work / L"b\\c\\two.bin"), Narrow(work / L"中文\\说明.txt")});
    EXPECT_EQ(EntryNames(archive), (std::vector<std::string>{"one.txt", "two.bin", "说明.txt"}));

    work.WriteFile(L"target\\one.txt", "an older one, to be replaced without a question");
    TZipExtractor extractor(nullptr);
    extractor.UnZipArchive(Narrow(archive), Narrow(work / L"target\\"));
    EXPECT_EQ(work.ReadFile(L"target\\one.txt"), "one");
    EXPECT_EQ(work.ReadFile(L"target\\two.bin"), std::string("\0\1\2", 3));
    EXPECT_EQ(work.ReadFile(L"target\\说明.txt"), "说明");

    extractor.UnZipArchive(Narrow(archive), Narrow(work / L"new\\deeper\\"));
    EXPECT_TRUE(work.Exists(L"new\\deeper\\one.txt")) << "a missing target directory is created";
}

TEST(ZipWrappers, AnEmptyListOrNameWritesNothing)
{
    TempDir work;
    work.WriteFile(L"one.txt", "one");
    TZipPacker packer(nullptr);
    packer.ZipFiles(Narrow(work / L"empty.sky"), {});
    packer.ZipFiles("", {Narrow(work / L"one.txt")});
    EXPECT_FALSE(work.Exists(L"empty.sky"));
}

TEST(ZipWrappers, AMissingLibraryIsReportedEachWithItsOwnIcon)
{
    TempDir work;
    work.WriteFile(L"one.txt", "one");
    {
        LibraryAway away(L"zip32.dll");
        const MessageBoxInfo box = AnswerBoxDuring(
            [&] { TZipPacker(nullptr).ZipFiles(Narrow(work / L"p.sky"), {Narrow(work / L"one.txt")}); });
        EXPECT_EQ(box.text, L"找不到zip32.dll");
        EXPECT_EQ(box.caption, L"提示");
        EXPECT_EQ(box.icon, BoxIcon::Error);
        EXPECT_FALSE(work.Exists(L"p.sky"));
    }
    {
        LibraryAway away(L"unzip32.dll");
        const MessageBoxInfo box = AnswerBoxDuring(
            [&] { TZipExtractor(nullptr).UnZipArchive(Narrow(work / L"p.sky"), Narrow(work / L"t\\")); });
        EXPECT_EQ(box.text, L"找不到unzip32.dll");
        EXPECT_EQ(box.icon, BoxIcon::Information);
        EXPECT_FALSE(work.Exists(L"t"));
    }
}

TEST(ZipWrappers, ALibraryWithoutTheEntryPointsIsSkippedSilently)
{
    // A library of the right name without the entry points: the program's own support DLL stands in.
    LibraryAway zipAway(L"zip32.dll"), unzipAway(L"unzip32.dll");
    CopyFileW((BinDirectory() + L"FakeArchiveLibrary.dll").c_str(), (BinDirectory() + L"zip32.dll").c_str(), FALSE);
    CopyFileW((BinDirectory() + L"FakeArchiveLibrary.dll").c_str(), (BinDirectory() + L"unzip32.dll").c_str(), FALSE);
    TempDir work;
    work.WriteFile(L"one.txt", "one");
    TZipPacker(nullptr).ZipFiles(Narrow(work / L"p.sky"), {Narrow(work / L"one.txt")});
    TZipExtractor(nullptr).UnZipArchive(Narrow(work / L"p.sky"), Narrow(work / L"t\\"));
    EXPECT_FALSE(FindMessageBox(GetCurrentProcessId()));
    EXPECT_FALSE(work.Exists(L"p.sky"));
    EXPECT_FALSE(work.Exists(L"t"));
    DeleteFileW((BinDirectory() + L"zip32.dll").c_str());
    DeleteFileW((BinDirectory() + L"unzip32.dll").c_str());
}
