// The program's wrappers over the real zip32.dll and unzip32.dll, loaded from beside this executable as the
// program loads them from its own directory.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
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

// Runs `action` on this thread while a watcher answers every message box it opens, in the order they come. A box
// that must not come is then a failure at once, not a modal wait on the test thread until the time limit.
std::vector<MessageBoxInfo> BoxesDuring(const std::function<void()>& action)
{
    std::vector<MessageBoxInfo> shown;
    std::atomic<bool> done = false;
    std::thread watcher([&] {
        while (!done) {
            if (auto box = WaitForMessageBox(GetCurrentProcessId(), 100ms)) {
                shown.push_back(*box);
                box->Dismiss();
            }
        }
    });
    action();
    done = true;
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

    TZipPacker packer(nullptr);
    packer.ZipFiles(Narrow(work / L"empty.sky"), {});
    packer.ZipFiles("", {Narrow(work / L"one.txt")});
    EXPECT_EQ(archivesAskedFor(), std::vector<std::string>{});
    EXPECT_FALSE(work.Exists(L"empty.sky"));
    // The recorder is in place: an archive with a name and a file reaches it.
    packer.ZipFiles(Narrow(work / L"one.sky"), {Narrow(work / L"one.txt")});
    SetEnvironmentVariableW(L"ARCHIVE_DOUBLE_LOG", nullptr);
    EXPECT_EQ(archivesAskedFor(), std::vector<std::string>{Narrow(work / L"one.sky")});
    EXPECT_EQ(EntryNames(work / L"one.sky"), std::vector<std::string>{"one.txt"});
}

TEST(ZipWrappers, AMissingLibraryIsReportedEachWithItsOwnIcon)
{
    TempDir work;
    work.WriteFile(L"one.txt", "one");
    {
        LibraryAway away(L"zip32.dll");
        const auto boxes =
            BoxesDuring([&] { TZipPacker(nullptr).ZipFiles(Narrow(work / L"p.sky"), {Narrow(work / L"one.txt")}); });
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, L"找不到zip32.dll");
        EXPECT_EQ(boxes[0].caption, L"提示");
        EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
        EXPECT_FALSE(work.Exists(L"p.sky"));
    }
    {
        LibraryAway away(L"unzip32.dll");
        const auto boxes =
            BoxesDuring([&] { TZipExtractor(nullptr).UnZipArchive(Narrow(work / L"p.sky"), Narrow(work / L"t\\")); });
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, L"找不到unzip32.dll");
        EXPECT_EQ(boxes[0].icon, BoxIcon::Information);
        EXPECT_FALSE(work.Exists(L"t"));
    }
}

TEST(ZipWrappers, ALibraryWithoutTheEntryPointsIsSkippedSilently)
{
    // A library of the right name without the entry points: the program's own support DLL stands in.
    const LibraryAway zipAway(L"zip32.dll"), unzipAway(L"unzip32.dll");
    const CopyInBin zip(BinDirectory() + L"FakeArchiveLibrary.dll", L"zip32.dll");
    const CopyInBin unzip(BinDirectory() + L"FakeArchiveLibrary.dll", L"unzip32.dll");
    TempDir work;
    work.WriteFile(L"one.txt", "one");
    const auto boxes = BoxesDuring([&] {
        TZipPacker(nullptr).ZipFiles(Narrow(work / L"p.sky"), {Narrow(work / L"one.txt")});
        TZipExtractor(nullptr).UnZipArchive(Narrow(work / L"p.sky"), Narrow(work / L"t\\"));
    });
    EXPECT_TRUE(boxes.empty()) << Narrow(boxes.front().text);
    EXPECT_FALSE(work.Exists(L"p.sky"));
    EXPECT_FALSE(work.Exists(L"t"));
}
